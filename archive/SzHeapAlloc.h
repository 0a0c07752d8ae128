// The decoder's allocator over the runtime heap.
#pragma once

#include <7zTypes.h>

// malloc and free; a request for zero bytes gets a null pointer without reaching malloc.
// One instance serves as both the decoder's main and its temporary allocator.
ISzAllocPtr SzHeapAlloc();
