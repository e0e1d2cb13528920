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

# The Khronos glTF validator the glTF tests run, from npm into tests/tools/.
# Without it those tests fail under CI and are skipped elsewhere.
tools=tests/tools
if [ ! -d "$tools/node_modules/gltf-validator" ] || [ "$tools/package-lock.json" -nt "$tools/node_modules/.package-lock.json" ]; then
  if command -v npm >/dev/null && (cd "$tools" && npm ci --no-audit --no-fund --loglevel=error); then
    :
  elif [ -n "${CI:-}" ]; then
    echo "test.sh: cannot install the glTF validator (npm ci in $tools)" >&2
    exit 1
  else
    echo "test.sh: the glTF validator is not installed (needs nodejs and npm: scripts/setup.sh); its tests are skipped" >&2
  fi
fi

cmake -S . -B "$dir" -DQUORVEX_TESTS=ON "${flags[@]}"
cmake --build "$dir" -j"$(nproc)"
ASAN_OPTIONS=allocator_may_return_null=1 ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
