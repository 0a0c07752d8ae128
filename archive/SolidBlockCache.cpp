#include "archive/SolidBlockCache.h"

#include "archive/SzHeapAlloc.h"

bool SolidBlockCache::Extract(const CSzArEx& db, ILookInStreamPtr stream, UInt32 index,
                              const Byte** data, size_t* size) {
    size_t offset = 0;
    size_t length = 0;
    SRes result = SzArEx_Extract(&db, stream, index, &blockIndex_, &buffer_, &bufferSize_, &offset,
                                 &length, blockAlloc_.Alloc(), SzHeapAlloc());
    if (result != SZ_OK) {
        // The decoder keeps a block it failed to decode as if it were good; drop it.
        Release();
        return false;
    }
    *data = buffer_ == nullptr ? nullptr : buffer_ + offset;
    *size = length;
    return true;
}

void SolidBlockCache::Release() {
    ISzAlloc_Free(blockAlloc_.Alloc(), buffer_);
    buffer_ = nullptr;
    bufferSize_ = 0;
    blockIndex_ = 0xFFFFFFFF;
}
