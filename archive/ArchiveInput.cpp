#include "archive/ArchiveInput.h"

namespace {

// Large enough that reading the packed streams costs few calls into the file system.
constexpr size_t kReaderBufferBytes = 256 * 1024;

}  // namespace

ArchiveInput::ArchiveInput() : file_(), reader_(), buffer_(kReaderBufferBytes) {
    File_Construct(&file_.file);
    FileInStream_CreateVTable(&file_);
    LookToRead2_CreateVTable(&reader_, False);
    reader_.realStream = &file_.vt;
    reader_.buf = buffer_.data();
    reader_.bufSize = buffer_.size();
    LookToRead2_INIT(&reader_);
}

bool ArchiveInput::Open(const wchar_t* path) {
    Close();
    if (InFile_OpenW(&file_.file, path) != 0) return false;
    file_.wres = 0;
    LookToRead2_INIT(&reader_);
    return true;
}

void ArchiveInput::Close() {
    // A failed close leaves the handle unusable as well; forget it either way.
    File_Close(&file_.file);
    File_Construct(&file_.file);
}
