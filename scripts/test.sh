#!/usr/bin/env bash
# Installs what the tests need (scripts/setup.sh test), configures, builds and
# runs the whole test suite. Pass --sanitize for the AddressSanitizer /
# UndefinedBehaviorSanitizer build (in build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DQUORVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_BENCH=OFF)
fi

./scripts/setup.sh test
cmake -S . -B "$dir" -DQUORVEX_TESTS=ON "${flags[@]}"
cmake --build "$dir" -j"$(nproc)"
ASAN_OPTIONS=allocator_may_return_null=1 ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
