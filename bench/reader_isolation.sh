#!/usr/bin/env bash
# Converts the bundled examples to every format Assimp writes and reads each
# through Assimp in this process and in a process of its own, with a large
# OBJ besides (bench/ReaderIsolationBench.cpp). Needs the `assimp` command.
#   bench/reader_isolation.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for fmt in obj collada fbx 3ds ply stl x 3mf; do
  ext=$(assimp exportinfo "$fmt" 2>/dev/null | sed -n 2p || true)
  for model in crate/crate.obj robot/robot.gltf; do
    stem=$(basename "${model%.*}")
    (cd "$work" && assimp export "$root/examples/$model" "$work/$stem-$fmt.${ext:-$fmt}" -f"$fmt" >/dev/null 2>&1) || true
  done
done
cp "$root"/examples/*/*.png "$work/"
QUORVEX_BENCH_MODELS=$work "$build/quorvex_bench" --benchmark_filter=AssimpRead --benchmark_repetitions="${REPS:-5}" \
  --benchmark_report_aggregates_only=true
