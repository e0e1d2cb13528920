#!/usr/bin/env bash
# Converts the bundled models (and a small untextured two-colour box made
# here) to every format Assimp can write, exports each with quorvex and
# prints one line per file: the exit status, the summary or refusal, and the
# warnings. Any further MODEL files (published models, say) are exported as
# they are, each on its own line. A file that holds more frames than its
# export writes, with no warning about it, gets a LOST line, and the sweep
# then exits 1. Needs the `assimp` command (assimp-utils).
#   scripts/format_sweep.sh [BUILD_DIR] [WORK_DIR] [MODEL...]
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=${2:-$(mktemp -d)}
shift $(($# < 2 ? $# : 2))
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

# The frames FILE holds: its header's count for the vertex-frame formats,
# else 2 when Assimp finds any animation in it (more than one pose), else 1.
held_frames() {
  python3 - "$1" <<'PY'
import struct, sys
path = sys.argv[1]
with open(path, 'rb') as f:
    head = f.read(96)
def i32(at): return struct.unpack_from('<i', head, at)[0] if len(head) >= at + 4 else 0
ext = path.rsplit('.', 1)[-1].lower()
if head[:4] == b'IDP2' and ext == 'md2': print(max(i32(40), 1))
elif head[:4] in (b'IDP3', b'IDPC') and ext in ('md3', 'mdc'): print(max(i32(76), 1))
elif head[:16] == b'INTERQUAKEMODEL\0' and ext == 'iqm': print(2 if i32(84) > 0 and i32(92) > 1 else 1)
else: print(0)
PY
}

lost=0
# Exports FILE to DIR/STEM.mdl and prints one line (LABEL first) and the warnings.
sweep_one() {
  local label=$1 file=$2 dir=$3 stem=$4 rc summary warnings held frames=0
  "$quorvex" export "$file" -o "$dir/$stem.mdl" -q >"$dir/$stem.out" 2>"$dir/$stem.err"
  rc=$?
  if [ $rc -eq 0 ]; then
    summary=$("$quorvex" info "$dir/$stem.mdl" --json | python3 -c '
import json, sys
m = json.load(sys.stdin)
print("v=%d t=%d skin=%dx%d frames=%d" % (m["vertexCount"], m["triangleCount"], m["skinWidth"], m["skinHeight"], m["frameCount"]))' 2>&1)
    frames=$(sed -n 's/.*frames=\([0-9]*\).*/\1/p' <<<"$summary")
  else
    summary=$(head -c 300 "$dir/$stem.err" | tr '\n' ' ')
  fi
  warnings=$(grep -c 'warning' "$dir/$stem.err")
  printf '%s exit %d  %s  warnings %s\n' "$label" "$rc" "$summary" "$warnings"
  grep 'warning' "$dir/$stem.err" | sed 's/^/             /'
  [ $rc -eq 0 ] || return
  held=$(held_frames "$file")
  if [ "$held" = 0 ]; then
    held=1
    assimp info "$file" 2>/dev/null | grep -q '^Animations: *[1-9]' && held=2
  fi
  if [ "${frames:-0}" -lt "$held" ] && ! grep 'warning' "$dir/$stem.err" | grep -qiE 'frame|animation|pose'; then
    echo "             LOST: the file holds $([ "$held" = 2 ] && echo animation || echo "$held frames"); $frames frame(s) written without a warning"
    lost=1
  fi
}

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
    sweep_one "$(printf '%-10s %-12s' "$fmt" "$model")" "$out" "$dir" "$stem"
  done
done

mkdir -p "$work/given"
for file in "$@"; do
  name=$(basename "$file")
  sweep_one "$(printf '%-23s' "$name")" "$file" "$work/given" "${name%.*}"
done
exit $lost
