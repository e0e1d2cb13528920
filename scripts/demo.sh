#!/usr/bin/env bash
# Installs what building the command needs (scripts/setup.sh build), builds
# the command line and exports the bundled example scene to out/windmill.mdl,
# then shows what the file holds.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh build
# The test suite needs packages the demo does not install; build it only when they are there.
tests=OFF
if dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q "install ok installed"; then tests=ON; fi
cmake -S . -B build -DQUORVEX_TESTS=$tests >/dev/null
cmake --build build -j"$(nproc)" --target quorvex

mkdir -p out
./build/quorvex export examples/windmill/windmill.scene.json -o out/windmill.mdl
echo
# The header and the sequences; `quorvex info out/windmill.mdl` lists every frame's box too.
./build/quorvex info out/windmill.mdl | sed -n '1,10p'
./build/quorvex view out/windmill.mdl -o out/windmill-sheet.png --sheet --every 5 --size 128x128
echo "Preview of every fifth frame: out/windmill-sheet.png"
