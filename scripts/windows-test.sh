#!/usr/bin/env bash
# Cross-builds the plug-in library for 64-bit and 32-bit Windows, checks both
# libraries statically (export table, imported libraries, the options dialog
# resource against the C++ table) and runs the 64-bit one under Wine in a
# virtual X display: its entry points, exports through the real options dialog
# and message boxes, each written file compared byte for byte with what the
# Linux `quorvex export` writes for the same scene and choices.
#
# Installs nothing (scripts/setup.sh does). Builds in build-windows/ (or
# $QUORVEX_WINDOWS_BUILD); takes the Linux command from build/ (or
# $QUORVEX_LINUX_BUILD), building it there if needed. Ends with one line
# "N passed, M failed" and exits non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."

out=${QUORVEX_WINDOWS_BUILD:-build-windows}
linux=${QUORVEX_LINUX_BUILD:-build}
jobs=${JOBS:-$(nproc)}
win64=$out/win64
win32=$out/win32
work=$out/work

passed=0
failed=0
pass() {
  echo "PASS $1"
  passed=$((passed + 1))
}
fail() {
  echo "FAIL $1"
  if [ -n "${2:-}" ]; then sed 's/^/    /' <<<"$2"; fi
  failed=$((failed + 1))
}
# check NAME COMMAND...: one test; its output is shown when it fails.
check() {
  local name=$1 log
  shift
  if log=$("$@" 2>&1); then
    pass "$name"
  else
    fail "$name" "$log"
    return 1
  fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# build DIR TOOLCHAIN [CMAKE ARGS...]
build() {
  local dir=$1 toolchain=$2 log=$1.log
  shift 2
  { cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "${launcher[@]}" "$@" && cmake --build "$dir" -j"$jobs"; } >"$log" 2>&1 ||
    { tail -n 40 "$log"; return 1; }
}

rm -rf "$work"
mkdir -p "$work"

check "build 64-bit library, test library and test host" build "$win64" mingw-w64-x86_64.cmake
check "build 32-bit library" build "$win32" mingw-w64-i686.cmake -DQUORVEX_WINDOWS_TESTS=OFF
check "build resource checker" c++ -std=c++20 -Wall -Wextra -I. -o "$work/dialog-resource-check" \
  tests/windows/DialogResourceCheck.cpp ui/DialogResource.cpp
# Nothing below can run without all three.
if [ "$failed" -ne 0 ]; then finish; fi

# ---------------------------------------------------------------- static checks

entry_points="LibClassDesc LibDescription LibNumberClasses LibVersion"
# System libraries only: the C and C++ runtimes are linked in.
system_libraries=" kernel32.dll user32.dll comctl32.dll msvcrt.dll "

exports_of() {
  x86_64-w64-mingw32-objdump -p "$1" |
    awk '/\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
         table && /^[ \t]*\[/ { print $NF; next }
         table { table = 0 }' | sort | tr '\n' ' ' | sed 's/ $//'
}

expect_exports() {
  local got
  got=$(exports_of "$1")
  [ "$got" = "$2" ] || { echo "exports: $got"; echo "wanted:  $2"; return 1; }
}

expect_system_imports() {
  local dll bad=0
  for dll in $(x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ { print tolower($3) }'); do
    case "$system_libraries" in *" $dll "*) ;; *) echo "imports $dll"; bad=1 ;; esac
  done
  return $bad
}

expect_format() {
  x86_64-w64-mingw32-objdump -f "$1" | grep -q "file format $2" || { x86_64-w64-mingw32-objdump -f "$1"; return 1; }
}

expect_dialog() {
  local dll=$1 raw=$work/$(basename "$1").dialog101 language
  language=$(wrestool -l "$dll" | sed -n 's/.*--type=5 --name=101 --language=\([0-9]*\).*/\1/p')
  [ -n "$language" ] || { echo "no dialog resource 101"; wrestool -l "$dll"; return 1; }
  wrestool -x --raw --type=5 --name=101 "$dll" >"$raw" && "$work/dialog-resource-check" "$raw" 101 "$language"
}

# Every compile of the 32-bit build carries the SSE2 arithmetic flags.
expect_sse2_flags() {
  local commands=$win32/compile_commands.json total with
  total=$(grep -c '"command"' "$commands")
  with=$(grep '"command"' "$commands" | grep -- '-msse2' | grep -c -- '-mfpmath=sse')
  [ "$total" -gt 0 ] && [ "$total" -eq "$with" ] || { echo "$with of $total compiles use -msse2 -mfpmath=sse"; return 1; }
}

for arch in win64:pei-x86-64 win32:pei-i386; do
  dir=$out/${arch%%:*}
  dll=$dir/quorvex.dll
  check "$dll is a ${arch#*:} library" expect_format "$dll" "${arch#*:}"
  check "$dll exports exactly the four entry points" expect_exports "$dll" "$entry_points"
  check "$dll imports system libraries only" expect_system_imports "$dll"
  check "$dll dialog 101 equals the C++ table" expect_dialog "$dll"
done
check "$win32 compiles with SSE2 arithmetic" expect_sse2_flags
check "$win64/quorvex-test.dll exports the entry points and the test hook" expect_exports "$win64/quorvex-test.dll" \
  "$entry_points QuorvexTestSetHostGlobals"
check "$win64/quorvex-test.dll imports system libraries only" expect_system_imports "$win64/quorvex-test.dll"

# ---------------------------------------------------------------- Wine

# The reference: the Linux command built from the same sources.
build_linux() {
  { if ! [ -f "$linux/CMakeCache.txt" ]; then cmake -S . -B "$linux" "${launcher[@]}" -DQUORVEX_BENCH=OFF; fi &&
    cmake --build "$linux" -j"$jobs" --target quorvex quorvex_scene_bytes; } >"$out/linux.log" 2>&1 || { tail -n 40 "$out/linux.log"; return 1; }
}
check "build the Linux quorvex command" build_linux || finish

# The test host reads no JSON: each scene goes to it as the document the Linux
# reader made of it, in bytes.
scene_bytes() {
  local out=$work/$(echo "$1" | tr '/' '_').bytes
  [ -f "$out" ] || "$linux/quorvex-scene-bytes" "$1" "$out" >&2 || return 1
  echo "$out"
}

wine=wine
if [ -x /usr/lib/wine/wine64 ]; then wine=/usr/lib/wine/wine64; fi
wineserver=wineserver
if [ -x /usr/lib/wine/wineserver64 ]; then wineserver=/usr/lib/wine/wineserver64; fi
export WINEPREFIX=$PWD/$out/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A virtual display of our own for the dialog and the message boxes.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  "$wineserver" -k >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$work/display")

check "Wine prefix" timeout 300 "$wine" wineboot -i
# wintest ARGS...: the test host under Wine; its lines without carriage returns.
wintest() {
  timeout 120 "$wine" "$win64/quorvex-wintest.exe" "$@" | tr -d '\r'
}

check "$win64/quorvex.dll entry points under Wine" wintest identity "$win64/quorvex.dll"
check "$win64/quorvex-test.dll entry points under Wine" wintest identity "$win64/quorvex-test.dll"

# export_case NAME SCENE [FLAGS...]: the same export through the DLL and through
# the Linux command, byte for byte. Flags are the test host's (--frames A:B
# becomes --frames=A:B for the command line).
export_case() {
  local name=$1 scene=$2
  shift 2
  local linux_flags=() previous=""
  for f in "$@"; do
    if [ "$previous" = "--frames" ]; then
      unset 'linux_flags[-1]'
      linux_flags+=("--frames=$f")
    elif [ "$f" != "--squat" ]; then
      linux_flags+=("$f")
    fi
    previous=$f
  done
  "$linux/quorvex" export "$scene" -o "$work/$name.linux.mdl" -q "${linux_flags[@]}" || {
    echo "quorvex export failed"
    return 1
  }
  case " $* " in *" --squat "*) echo "an older file" >"$work/$name.wine.mdl" ;; esac
  local bytes
  bytes=$(scene_bytes "$scene") || return 1
  wintest export "$win64/quorvex-test.dll" "$bytes" "$work/$name.wine.mdl" "$@" &&
    cmp "$work/$name.linux.mdl" "$work/$name.wine.mdl"
}

windmill=examples/windmill/windmill.scene.json
triangle=tests/fixtures/triangle.scene.json
check "dialog: frame range" export_case range "$windmill"
check "dialog: hi precision and alpha channel" export_case hi-alpha "$windmill" --hi-precision --alpha
check "dialog: single frame, hi precision" export_case single "$windmill" --single-frame --hi-precision
check "frames 2:5 with alpha channel" export_case frames "$windmill" --frames 2:5 --alpha
check "frames -3:-1, hi precision" export_case negative "$triangle" --frames -3:-1 --hi-precision
check "over an existing file, temporary name taken" export_case overwrite "$windmill" --squat
check "dialog: cancel writes nothing" wintest export "$win64/quorvex-test.dll" "$(scene_bytes "$windmill")" \
  "$work/cancel.mdl" --cancel

# The refusal's text is the Linux command's.
abort_case() {
  local text
  text=$("$linux/quorvex" export tests/fixtures/no-material.scene.json -o "$work/abort.linux.mdl" -q 2>&1)
  text=${text#quorvex export: tests/fixtures/no-material.scene.json: }
  [ -n "$text" ] || return 1
  wintest export "$win64/quorvex-test.dll" "$(scene_bytes tests/fixtures/no-material.scene.json)" "$work/abort.mdl" \
    --abort "$text"
}
check "\"Aborting !\" message box" abort_case
# Golden bytes: every scene-file case of tests/golden/cases.txt that the table
# records as written gives the recorded bytes through the DLL too.
golden_case() {
  local id=$1 scene=$2 want=$3 out=$work/golden-$1.mdl
  shift 3
  local flags=() f
  for f in "$@"; do
    case $f in --frames=*) flags+=(--frames "${f#--frames=}") ;; *) flags+=("$f") ;; esac
  done
  local bytes
  bytes=$(scene_bytes "$scene") || return 1
  wintest export "$win64/quorvex-test.dll" "$bytes" "$out" "${flags[@]}" >/dev/null || return 1
  local got
  got=$(sha256sum "$out" | cut -d' ' -f1)
  [ "$got" = "$want" ] || { echo "expected $want, got $got"; return 1; }
}
while read -r id scene flags; do
  case $id in '' | '#'*) continue ;; esac
  case $scene in *.json) ;; *) continue ;; esac
  entry=$(grep "^$id written " tests/golden/expected.txt) || continue
  # shellcheck disable=SC2086  # the flags are words by design
  check "golden bytes: $id" golden_case "$id" "$scene" "${entry##* }" $flags
done <tests/golden/cases.txt
check "no host services: refused, nothing written" wintest export "$win64/quorvex.dll" "$(scene_bytes "$windmill")" \
  "$work/no-host.mdl" --no-host --abort "Host services are not installed"

finish
