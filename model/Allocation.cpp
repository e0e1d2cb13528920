#include "model/Allocation.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace quorvex {

namespace {

std::atomic<AllocationGate> gate{nullptr};

bool Allowed(size_t size) {
    const AllocationGate g = gate.load(std::memory_order_relaxed);
    return !g || g(size);
}

#ifdef __linux__
// Gives `advice` for the whole `unit`s inside [p, p + bytes): the first and
// last partial ones may hold someone else's data.
void AdviseWithin(void* p, size_t bytes, uintptr_t unit, int advice) {
    const uintptr_t start = (reinterpret_cast<uintptr_t>(p) + unit - 1) & ~(unit - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(unit - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, advice);
}
#endif

}  // namespace

void SetAllocationGate(AllocationGate g) { gate.store(g); }

void* GatedCalloc(size_t count, size_t size) {
    // The product only asks the gate; calloc itself checks it for overflow.
    return Allowed(count * size) ? std::calloc(count, size) : nullptr;
}

void* GatedMalloc(size_t size) { return Allowed(size) ? std::malloc(size) : nullptr; }

void* GatedRealloc(void* p, size_t size) { return Allowed(size) ? std::realloc(p, size) : nullptr; }

void BackNow(void* p, size_t bytes) {
#ifdef __linux__
#ifdef MADV_HUGEPAGE
    AdviseWithin(p, bytes, uintptr_t{2} << 20, MADV_HUGEPAGE);
#endif
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it, harmlessly
#endif
    AdviseWithin(p, bytes, uintptr_t(sysconf(_SC_PAGESIZE)), MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace quorvex
