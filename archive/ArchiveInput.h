// The archive file as the decoder reads it: the file, its input stream and the plain
// (no look-ahead) reader over it.
#pragma once

#include <7zFile.h>
#include <7zTypes.h>

#include <vector>

class ArchiveInput {
  public:
    ArchiveInput();
    ~ArchiveInput() { Close(); }
    // The reader points into this object, so it neither copies nor moves.
    ArchiveInput(const ArchiveInput&) = delete;
    ArchiveInput& operator=(const ArchiveInput&) = delete;

    bool Open(const wchar_t* path);
    void Close();  // idempotent

    ILookInStreamPtr Stream() const { return &reader_.vt; }

  private:
    CFileInStream file_;
    CLookToRead2 reader_;
    std::vector<Byte> buffer_;
};
