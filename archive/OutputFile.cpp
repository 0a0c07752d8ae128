#include "archive/OutputFile.h"

bool OutputFile::Open(const wchar_t* path) {
    Close();
    open_ = OutFile_OpenW(&file_, path) == 0;
    return open_;
}

bool OutputFile::WriteAll(const void* data, size_t size) {
    size_t written = size;
    return File_Write(&file_, data, &written) == 0 && written == size;
}

bool OutputFile::Close() {
    if (!open_) return true;
    open_ = false;
    bool closed = File_Close(&file_) == 0;
    File_Construct(&file_);  // never close the same handle twice, even after an error
    return closed;
}
