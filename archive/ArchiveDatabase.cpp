#include "archive/ArchiveDatabase.h"

#include "archive/SzHeapAlloc.h"

namespace {

constexpr UInt32 kUnixExtension = 0x8000;

}  // namespace

UInt32 FileAttributesOfEntry(UInt32 word) {
    return (word & kUnixExtension) != 0 ? word & (kUnixExtension - 1) : word;
}

bool ArchiveDatabase::Open(ILookInStreamPtr stream) {
    Free();
    return SzArEx_Open(&db_, stream, SzHeapAlloc(), SzHeapAlloc()) == SZ_OK;
}

void ArchiveDatabase::Free() { SzArEx_Free(&db_, SzHeapAlloc()); }  // leaves it initialised

std::wstring ArchiveDatabase::Name(UInt32 index, std::vector<UInt16>& buffer) const {
    size_t length = SzArEx_GetFileNameUtf16(&db_, index, nullptr);  // terminator included
    if (length > buffer.size()) buffer.resize(length);
    SzArEx_GetFileNameUtf16(&db_, index, buffer.data());
    // Every code unit before the terminator is kept: a NUL inside the name must reach the
    // name check rather than silently shorten the name.
    return std::wstring(buffer.begin(), buffer.begin() + (length > 0 ? length - 1 : 0));
}

bool ArchiveDatabase::Attributes(UInt32 index, UInt32* attributes) const {
    if (!SzBitWithVals_Check(&db_.Attribs, index)) return false;
    *attributes = FileAttributesOfEntry(db_.Attribs.Vals[index]);
    return true;
}
