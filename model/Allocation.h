// The one way the exporter allocates its large arrays (the model's, the
// skin's, the writer's buffers), so that a test can make any of them fail the
// way it fails the program's other allocations. Inside the modelling host no
// gate is set and these are plain calloc, malloc and realloc.
#pragma once

#include <cstddef>

namespace quorvex {

// Asked before every allocation below with its size in bytes; false makes that
// allocation fail. Null (the default) lets every allocation through.
using AllocationGate = bool (*)(size_t size);
// Process-wide; set it only while nothing allocates on another thread.
void SetAllocationGate(AllocationGate gate);

// calloc, malloc and realloc after asking the gate: null when it refuses or
// the system has no memory (realloc then leaves `p` as it was). Release
// the result with std::free. On Linux a calloc or malloc of a large page (2
// MiB) or more starts on one, and its whole large pages are asked for as such.
void* GatedCalloc(size_t count, size_t size);
void* GatedMalloc(size_t size);
void* GatedRealloc(void* p, size_t size);

// malloc without the gate, a block of a large page or more in large pages
// as above (for the command's own allocator). Release with std::free.
void* MallocLargePaged(size_t size);

// `size` zero-filled bytes for a large array that is about to be written
// whole (a model's frames), after asking the gate: null when it refuses or
// the system has no memory. Where the system allows it the memory is backed
// at once, in large pages: on virtual machines every first touch of a small
// page costs a trap, which is most of the cost of filling such an array.
// Release with FreeLargeZeroed and the same size.
void* GatedLargeZeroed(size_t size);
void FreeLargeZeroed(void* p, size_t size);

// Backs the whole pages of [p, p + bytes) with memory now, in one call, rather
// than one page fault at a time as they are first written: where faults are
// dear (virtual machines) that is most of the cost of filling a large array.
// Whole 2 MiB blocks inside the range ask for huge pages first where the
// system offers them to memory that asks. Only a hint: nothing changes where
// it is not supported, and the contents stay as they were.
void BackNow(void* p, size_t bytes);

}  // namespace quorvex
