// The command's large blocks in 2 MiB pages. Linked into the `quorvex`
// program only (not the tests, not the plug-in): it replaces the global
// operator new, which every C++ allocation of the process reaches, the
// parsers' buffers and the scene text included.
//
// A one-shot command fills its large buffers once. Where small pages are
// dear (on a virtual machine every first touch of a 4 KiB page traps), a
// block of a few megabytes costs a thousand traps that one large page per
// 2 MiB avoids: loading the big benchmark scene fell from about 90 ms to
// 35 ms. Freeing stays the system's: the blocks come from posix_memalign or
// malloc (MallocLargePaged), so the default operator delete (free) releases
// them.
#include <cstddef>
#include <new>

// A sanitizer brings its own operator new and checks that what it frees came
// from it; gcc says so with __SANITIZE_*__, clang only through __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUORVEX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QUORVEX_SANITIZED 1
#endif
#endif

#if defined(__linux__) && !defined(QUORVEX_SANITIZED)
#include "model/Allocation.h"

// The array and no-throw forms, the library's own, call this one.
void* operator new(size_t size) {
    for (;;) {
        if (void* p = quorvex::MallocLargePaged(size ? size : 1)) return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

#endif
