// A whole file's bytes mapped read-only into memory: the file, its mapping and the view owned
// together, so no size needs a buffer of its own and every handle is released on any path.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "support/ScopedHandle.h"

class MappedFile {
  public:
    MappedFile() = default;
    ~MappedFile() { Close(); }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the existing file; others may read it meanwhile, nobody may write it. An empty file
    // opens as no bytes (Data() is null). False when it cannot be opened or mapped whole,
    // such as a file larger than the address space.
    bool Open(const std::wstring& path);
    // Idempotent.
    void Close();

    const unsigned char* Data() const { return static_cast<const unsigned char*>(view_); }
    size_t Size() const { return size_; }

  private:
    ScopedFile file_;
    ScopedKernelHandle mapping_;
    void* view_ = nullptr;
    size_t size_ = 0;
};
