#include "archive/SzHeapAlloc.h"

#include <cstdlib>

namespace {

void* Allocate(ISzAllocPtr, size_t size) { return size == 0 ? nullptr : std::malloc(size); }

void Release(ISzAllocPtr, void* address) { std::free(address); }

const ISzAlloc kHeapAlloc = {Allocate, Release};

}  // namespace

ISzAllocPtr SzHeapAlloc() { return &kHeapAlloc; }
