// The command's large blocks in 2 MiB pages. Linked into the `quorvex`
// program only (not the tests, not the plug-in): it replaces the global
// operator new, which every C++ allocation of the process reaches, the
// parsers' buffers and the scene text included.
//
// A one-shot command fills its large buffers once. Where small pages are
// dear (on a virtual machine every first touch of a 4 KiB page traps), a
// block of a few megabytes costs a thousand traps that one large page per
// 2 MiB avoids: loading the big benchmark scene fell from about 90 ms to
// 30 ms. Freeing stays the system's: the blocks come from aligned_alloc, so
// the default operator delete (free) releases them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#include <sys/mman.h>

namespace {

constexpr size_t kLargePage = size_t(2) << 20;
// From here a block is rounded up to whole large pages: at most half of the
// last one is never used.
constexpr size_t kLargeBlock = kLargePage / 2;

// A block of at least a large page's half starts on a large page and fills
// whole ones, which are asked for as large pages (only a hint: no byte
// changes, and nothing does where the system has none).
void* Allocate(size_t size) {
    if (size < kLargeBlock) return std::malloc(size ? size : 1);
    if (size > SIZE_MAX - kLargePage) return nullptr;
    const size_t whole = (size + kLargePage - 1) & ~(kLargePage - 1);
    void* p = std::aligned_alloc(kLargePage, whole);
    if (p) madvise(p, whole, MADV_HUGEPAGE);
    return p;
}

}  // namespace

void* operator new(size_t size) {
    for (;;) {
        if (void* p = Allocate(size)) return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

void* operator new[](size_t size) { return ::operator new(size); }

void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

#endif
