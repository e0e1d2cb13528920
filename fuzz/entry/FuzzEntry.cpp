// The libFuzzer entry point of one target; the build compiles this file once
// per target with QUORVEX_FUZZ_RUN naming its function.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzkit::QUORVEX_FUZZ_RUN(data, size);
    return 0;
}
