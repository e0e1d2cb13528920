// What a reader we did not write may take of the machine when it runs in a
// process of its own (import/IsolatedRead.h).
#pragma once

#include <cstdint>

namespace quorvex::importer {

// 0 for any of them: no limit of that kind.
struct ReaderLimits {
    uint64_t memoryBytes = 0;  // address space of the reader's process (its program, stacks and heap)
    uint32_t cpuSeconds = 0;   // processor time of the reader's process
    uint32_t wallSeconds = 0;  // time until the command gives up waiting and ends the reader
};

// The limits every read gets unless its caller says otherwise: address space
// of the machine's physical memory plus 1 GiB (at least 4 GiB), 600 s of
// processor time and 1200 s of waiting. The environment may override each:
// QUORVEX_READER_MEMORY_MB, QUORVEX_READER_CPU_SECONDS,
// QUORVEX_READER_WALL_SECONDS (a whole number; 0 lifts the limit; anything
// that is not a whole number is ignored). Read once per process.
ReaderLimits DefaultReaderLimits();

// False in builds whose sanitizer reserves the address space up front, where
// no address-space limit can be set; the other limits hold everywhere.
bool ReaderMemoryLimitHolds();

}  // namespace quorvex::importer
