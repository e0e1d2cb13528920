#include "model/Allocation.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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

#ifdef __linux__
namespace {

// Large pages are 2 MiB on the machines this runs on.
constexpr size_t kLargePage = size_t(2) << 20;

// A block of a large page or more starts on one, and its whole large pages
// are asked for as such: on virtual machines every first touch of a small page
// traps, and such blocks are mostly written whole. The rest past its last
// whole large page stays in small pages, so no block holds more memory than
// it asks for. Null for smaller blocks (and when there is no memory): those
// take the plain way.
void* LargePaged(size_t size) {
    void* p = nullptr;
    if (size < kLargePage || posix_memalign(&p, kLargePage, size) != 0) return nullptr;
    madvise(p, size & ~(kLargePage - 1), MADV_HUGEPAGE);
    return p;
}

}  // namespace
#endif

void* GatedCalloc(size_t count, size_t size) {
    // The product only asks the gate; calloc itself checks it for overflow.
    if (!Allowed(count * size)) return nullptr;
#ifdef __linux__
    if (size == 0 || count <= SIZE_MAX / size) {
        if (void* p = LargePaged(count * size)) return std::memset(p, 0, count * size);
    }
#endif
    return std::calloc(count, size);
}

void* GatedMalloc(size_t size) { return Allowed(size) ? MallocLargePaged(size) : nullptr; }

void* MallocLargePaged(size_t size) {
#ifdef __linux__
    if (void* p = LargePaged(size)) return p;
#endif
    return std::malloc(size);
}

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

#ifdef __linux__

void* GatedLargeZeroed(size_t size) {
    if (size < kLargePage) return GatedCalloc(1, size);
    if (!Allowed(size) || size > SIZE_MAX - kLargePage) return nullptr;
    // Mapped a large page more than asked, so that the start can move to a
    // large-page boundary; the ends are unmapped again. Fresh mappings are zero.
    const size_t mapped = size + kLargePage;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(raw) + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
    const size_t before = start - reinterpret_cast<uintptr_t>(raw);
    if (before) munmap(raw, before);
    // The tail goes from the page the block ends in onwards: munmap takes
    // only page boundaries, and FreeLargeZeroed's length rounds up to the same.
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t kept = (size + page - 1) & ~(page - 1);
    if (mapped - before > kept) munmap(reinterpret_cast<void*>(start + kept), mapped - before - kept);
    void* p = reinterpret_cast<void*>(start);
    // Only hints: an older kernel, or large pages turned off, leaves plain
    // pages backed as they are first written.
    BackNow(p, size);
    return p;
}

void FreeLargeZeroed(void* p, size_t size) {
    if (!p) return;
    if (size < kLargePage)
        std::free(p);
    else
        munmap(p, size);
}

#else

void* GatedLargeZeroed(size_t size) { return GatedCalloc(1, size); }

void FreeLargeZeroed(void* p, size_t) { std::free(p); }

#endif

}  // namespace quorvex
