#include "archive/ZstdPatch.h"

#include <windows.h>

#define ZSTD_STATIC_LINKING_ONLY  // the frame header's window, before anything is decoded
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "archive/OutputFile.h"
#include "support/MappedFile.h"
#include "support/Sha256.h"

namespace {

// The result's bytes, committed pages reserved in one piece, so that a size the machine cannot
// give fails here, checked, rather than somewhere inside the decoder.
class ResultBuffer {
  public:
    explicit ResultBuffer(size_t size)
        : data_(size == 0 ? nullptr
                          : VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)) {
    }
    ~ResultBuffer() {
        if (data_ != nullptr) VirtualFree(data_, 0, MEM_RELEASE);
    }
    ResultBuffer(const ResultBuffer&) = delete;
    ResultBuffer& operator=(const ResultBuffer&) = delete;
    unsigned char* Data() {
        return static_cast<unsigned char*>(data_ != nullptr ? data_ : &empty_);
    }
    bool Failed(size_t size) const { return size != 0 && data_ == nullptr; }

  private:
    void* data_;
    unsigned char empty_ = 0;
};

struct FreeDecoder {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using Decoder = std::unique_ptr<ZSTD_DCtx, FreeDecoder>;

bool Refuse(std::string& why, const char* reason) {
    why = reason;
    return false;
}

// The frame's own claims, checked before a byte is decoded: one frame and nothing after it,
// a window within the cap, and the size it records (when it records one) the announced one.
bool FrameFits(const MappedFile& patch, const ZstdPatchPlan& plan, unsigned windowLog,
               std::string& why) {
    ZSTD_frameHeader header = {};
    if (patch.Size() == 0 || ZSTD_getFrameHeader(&header, patch.Data(), patch.Size()) != 0 ||
        header.frameType != ZSTD_frame)
        return Refuse(why, "no frame");
    if (header.windowSize > (1ull << windowLog)) return Refuse(why, "frame window too large");
    if (header.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN &&
        header.frameContentSize != plan.resultSize)
        return Refuse(why, "frame size differs");
    if (ZSTD_findFrameCompressedSize(patch.Data(), patch.Size()) != patch.Size())
        return Refuse(why, "not one frame");
    return true;
}

bool Decode(const MappedFile& base, const MappedFile& patch, unsigned windowLog, unsigned char* out,
            size_t size, std::string& why) {
    Decoder decoder(ZSTD_createDCtx());
    if (!decoder) return Refuse(why, "out of memory");
    if (ZSTD_isError(ZSTD_DCtx_setParameter(decoder.get(), ZSTD_d_windowLogMax,
                                            static_cast<int>(windowLog))) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(decoder.get(), base.Data(), base.Size())))
        return Refuse(why, "decoder setup");
    size_t made = ZSTD_decompressDCtx(decoder.get(), out, size, patch.Data(), patch.Size());
    if (ZSTD_isError(made)) return Refuse(why, "decode");
    if (made != size) return Refuse(why, "result size");
    return true;
}

}  // namespace

bool RebuildFromZstdPatch(const std::wstring& basePath, const std::wstring& patchPath,
                          const std::wstring& resultPath, const ZstdPatchPlan& plan,
                          std::string& why) {
    if (plan.resultSize > SIZE_MAX) return Refuse(why, "result too large");
    const size_t size = static_cast<size_t>(plan.resultSize);
    const unsigned windowLog = std::min(plan.windowLog, kMaxPatchWindowLog);

    MappedFile base;
    if (!base.Open(basePath)) return Refuse(why, "base unreadable");
    if (!BytesMatchSha256(plan.baseSha256.c_str(), base.Data(), base.Size()))
        return Refuse(why, "base sha256");
    MappedFile patch;
    if (!patch.Open(patchPath)) return Refuse(why, "patch unreadable");
    if (!FrameFits(patch, plan, windowLog, why)) return false;

    ResultBuffer result(size);
    if (result.Failed(size)) return Refuse(why, "out of memory");
    if (!Decode(base, patch, windowLog, result.Data(), size, why)) return false;
    base.Close();
    patch.Close();
    if (!BytesMatchSha256(plan.resultSha256.c_str(), result.Data(), size))
        return Refuse(why, "result sha256");

    OutputFile file;
    if (!file.Open(resultPath.c_str()) || !file.WriteAll(result.Data(), size) || !file.Close())
        return Refuse(why, "write");
    return true;
}
