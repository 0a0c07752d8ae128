// The decoded solid block that consecutive entries of one block share.
#pragma once

#include <7z.h>

#include <cstddef>

#include "archive/BlockBufferAlloc.h"

class SolidBlockCache {
  public:
    SolidBlockCache() = default;
    ~SolidBlockCache() { Release(); }
    SolidBlockCache(const SolidBlockCache&) = delete;
    SolidBlockCache& operator=(const SolidBlockCache&) = delete;

    // Decodes the entry, and with it its whole block unless that block is the cached one.
    // On success data and size name the entry's bytes inside the cache, valid until the
    // next call. False on any decoder error (data, CRC, unsupported method, memory, read).
    bool Extract(const CSzArEx& db, ILookInStreamPtr stream, UInt32 index, const Byte** data,
                 size_t* size);
    void Release();  // idempotent; the block's memory stays for the next block

  private:
    BlockBufferAlloc blockAlloc_;     // before buffer_: it outlives it
    UInt32 blockIndex_ = 0xFFFFFFFF;  // none
    Byte* buffer_ = nullptr;
    size_t bufferSize_ = 0;
};
