#include "model/Allocation.h"

#include <atomic>
#include <cstdlib>

namespace quorvex {

namespace {

std::atomic<AllocationGate> gate{nullptr};

bool Allowed(size_t size) {
    const AllocationGate g = gate.load(std::memory_order_relaxed);
    return !g || g(size);
}

}  // namespace

void SetAllocationGate(AllocationGate g) { gate.store(g); }

void* GatedCalloc(size_t count, size_t size) {
    // The product only asks the gate; calloc itself checks it for overflow.
    return Allowed(count * size) ? std::calloc(count, size) : nullptr;
}

void* GatedMalloc(size_t size) { return Allowed(size) ? std::malloc(size) : nullptr; }

void* GatedRealloc(void* p, size_t size) { return Allowed(size) ? std::realloc(p, size) : nullptr; }

}  // namespace quorvex
