// The decoder's allocator for solid-block buffers. The decoder frees a block's buffer and
// allocates the next one for every block; a large block returned to the system that way has
// every page faulted in again. This allocator keeps the freed buffer and hands it out again
// when it is big enough, and frees it first when a bigger one is needed, so peak memory stays
// at the largest block.
#pragma once

#include <7zTypes.h>

#include <cstddef>

class BlockBufferAlloc {
  public:
    BlockBufferAlloc();
    ~BlockBufferAlloc() { Release(); }
    // The decoder holds a pointer to vt_, so it neither copies nor moves.
    BlockBufferAlloc(const BlockBufferAlloc&) = delete;
    BlockBufferAlloc& operator=(const BlockBufferAlloc&) = delete;

    // For the decoder's main allocator: one block buffer live at a time.
    ISzAllocPtr Alloc() const { return &vt_; }

    // Frees the kept buffer (a live one is the decoder's to free). Idempotent.
    void Release();

  private:
    static void* Allocate(ISzAllocPtr self, size_t size);
    static void Free(ISzAllocPtr self, void* address);

    ISzAlloc vt_;  // first: the decoder's pointer to it is a pointer to this object
    void* live_ = nullptr;
    size_t liveSize_ = 0;
    void* kept_ = nullptr;
    size_t keptSize_ = 0;
};
