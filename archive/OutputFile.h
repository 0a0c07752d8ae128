// One extracted file being written through the decoder's file layer.
#pragma once

#include <7zFile.h>

#include <cstddef>

class OutputFile {
  public:
    OutputFile() { File_Construct(&file_); }
    ~OutputFile() { Close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates the file; others may read it meanwhile.
    bool Open(const wchar_t* path);
    // False on an error or when fewer than size bytes were written.
    bool WriteAll(const void* data, size_t size);
    // False when closing reported an error. Idempotent: a closed file closes as true.
    bool Close();

  private:
    CSzFile file_;
    bool open_ = false;
};
