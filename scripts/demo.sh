#!/usr/bin/env bash
# Sets everything up, builds the command line and exports the bundled example
# scene to out/windmill.mdl, then shows what the file holds.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake -S . -B build -DQUORVEX_TESTS=OFF -DQUORVEX_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target quorvex

mkdir -p out
./build/quorvex export examples/windmill/windmill.scene.json -o out/windmill.mdl
if ./build/quorvex info --help >/dev/null 2>&1; then
  ./build/quorvex info out/windmill.mdl
fi
if ./build/quorvex view --help >/dev/null 2>&1; then
  ./build/quorvex view out/windmill.mdl -o out/windmill-sheet.png --sheet
  echo "Preview of every frame: out/windmill-sheet.png"
fi
