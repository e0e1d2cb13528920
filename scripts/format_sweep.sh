#!/usr/bin/env bash
# Converts the bundled models (and a small untextured two-colour box made
# here) to every format Assimp can write, exports each with quorvex and
# prints one line per file: the exit status, the summary or refusal, and the
# warnings. Needs the `assimp` command (assimp-utils).
#   scripts/format_sweep.sh [BUILD_DIR] [WORK_DIR]
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=${2:-$(mktemp -d)}
quorvex=$build/quorvex
command -v assimp >/dev/null || { echo "format_sweep: the assimp command is missing (assimp-utils)" >&2; exit 2; }
[ -x "$quorvex" ] || { echo "format_sweep: $quorvex is missing" >&2; exit 2; }
mkdir -p "$work/src"

# A box without texture: top and bottom red, sides green.
cat >"$work/src/colours.mtl" <<'MTL'
newmtl Red
Kd 0.8 0.1 0.1
newmtl Green
Kd 0.1 0.7 0.2
MTL
cat >"$work/src/colours.obj" <<'OBJ'
mtllib colours.mtl
o Box
v 0 0 0
v 1 0 0
v 1 0 1
v 0 0 1
v 0 1 0
v 1 1 0
v 1 1 1
v 0 1 1
usemtl Red
f 1 4 3 2
f 5 6 7 8
usemtl Green
f 1 2 6 5
f 2 3 7 6
f 3 4 8 7
f 4 1 5 8
OBJ
cp "$root/examples/crate/"* "$root/examples/robot/"* "$work/src/"

formats=$(assimp listexport)
for model in colours.obj crate.obj robot.gltf; do
  stem=${model%.*}
  for fmt in $formats; do
    case $fmt in assbin|assxml|assjson|pbrt) continue ;; esac  # Assimp's own dumps
    dir=$work/$fmt
    mkdir -p "$dir"
    cp "$work/src/"*.png "$dir/" 2>/dev/null
    ext=$(assimp exportinfo "$fmt" 2>/dev/null | sed -n 2p)
    [ -n "$ext" ] || ext=$fmt
    out=$dir/$stem.$ext
    if ! (cd "$dir" && assimp export "$work/src/$model" "$out" -f"$fmt" >/dev/null 2>&1) || [ ! -s "$out" ]; then
      printf '%-10s %-12s assimp cannot write it\n' "$fmt" "$model"
      continue
    fi
    "$quorvex" export "$out" -o "$dir/$stem.mdl" -q >"$dir/$stem.out" 2>"$dir/$stem.err"
    rc=$?
    if [ $rc -eq 0 ]; then
      summary=$("$quorvex" info "$dir/$stem.mdl" --json | python3 -c '
import json, sys
m = json.load(sys.stdin)
print("v=%d t=%d skin=%dx%d frames=%d" % (m["vertexCount"], m["triangleCount"], m["skinWidth"], m["skinHeight"], m["frameCount"]))' 2>&1)
    else
      summary=$(head -c 300 "$dir/$stem.err" | tr '\n' ' ')
    fi
    warnings=$(grep -c 'warning' "$dir/$stem.err")
    printf '%-10s %-12s exit %d  %s  warnings %s\n' "$fmt" "$model" "$rc" "$summary" "$warnings"
    grep 'warning' "$dir/$stem.err" | sed 's/^/             /'
  done
done
