#include "support/MappedFile.h"

#include <cstdint>

bool MappedFile::Open(const std::wstring& path) {
    Close();
    file_.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file_ || !GetFileSizeEx(file_.Get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) {
        Close();
        return false;
    }
    if (size.QuadPart == 0) return true;  // an empty file cannot be mapped, nor needs to be
    mapping_.Reset(CreateFileMappingW(file_.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (mapping_) view_ = MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, 0);
    if (view_ == nullptr) {
        Close();
        return false;
    }
    size_ = static_cast<size_t>(size.QuadPart);
    return true;
}

void MappedFile::Close() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    view_ = nullptr;
    size_ = 0;
    mapping_.Close();
    file_.Close();
}
