#include "archive/BlockBufferAlloc.h"

#include <cstdlib>

namespace {

BlockBufferAlloc* Self(ISzAllocPtr p) {
    return reinterpret_cast<BlockBufferAlloc*>(const_cast<ISzAlloc*>(p));
}

}  // namespace

BlockBufferAlloc::BlockBufferAlloc() : vt_{&BlockBufferAlloc::Allocate, &BlockBufferAlloc::Free} {}

void BlockBufferAlloc::Release() {
    std::free(kept_);
    kept_ = nullptr;
    keptSize_ = 0;
}

void* BlockBufferAlloc::Allocate(ISzAllocPtr p, size_t size) {
    BlockBufferAlloc* self = Self(p);
    if (size == 0) return nullptr;
    void* buffer = nullptr;
    if (self->kept_ != nullptr && self->keptSize_ >= size) {
        buffer = self->kept_;
        size = self->keptSize_;
    } else {
        self->Release();  // before the bigger one, so the two never coexist
        buffer = std::malloc(size);
        if (buffer == nullptr) return nullptr;
    }
    self->kept_ = nullptr;
    self->keptSize_ = 0;
    // A second live buffer is not what this allocator is for; it is freed, not kept.
    if (self->live_ == nullptr) {
        self->live_ = buffer;
        self->liveSize_ = size;
    }
    return buffer;
}

void BlockBufferAlloc::Free(ISzAllocPtr p, void* address) {
    BlockBufferAlloc* self = Self(p);
    if (address == nullptr) return;
    if (address != self->live_) {
        std::free(address);
        return;
    }
    self->Release();
    self->kept_ = self->live_;
    self->keptSize_ = self->liveSize_;
    self->live_ = nullptr;
    self->liveSize_ = 0;
}
