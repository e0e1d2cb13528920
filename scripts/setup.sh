#!/usr/bin/env bash
# Installs the Debian packages a task needs, by group. Safe to run again:
# when everything is present it installs nothing.
#   scripts/setup.sh [GROUP...]     (default: build)
# Groups:
#   build    building and running the quorvex command
#   test     the test suite and the benchmarks (includes build)
#   windows  cross-building the plug-in for Windows and testing it under Wine
#   fuzz     the libFuzzer targets (scripts/fuzz.sh)
#   sweep    scripts/format_sweep.sh and the source layout check
#   all      every group (CI)
set -euo pipefail

build=(
  cmake g++ make
  nlohmann-json3-dev libstb-dev libtinygltf-dev libassimp-dev libcli11-dev
  # Compressed glTF: the Draco decoder.
  libdraco-dev
  # The scene-file reader.
  libsimdjson-dev
  # Picture decoders and animated previews.
  libpng-dev libjpeg62-turbo-dev libgif-dev
  # Budgets: the simplifier that reduces meshes to --max-triangles / --max-vertices.
  libmeshoptimizer-dev
)
test=(
  libgtest-dev libgmock-dev libbenchmark-dev
  # The manual page.
  help2man
  # The tools the compressed-glTF tests pack their files with.
  draco
  gltfpack
  # The scripts that make the benchmark scenes.
  python3
)
windows=(
  # The Windows library: cross-compilers, and Wine in a virtual display to test it.
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 xvfb icoutils
  # The glTF validator the tests run comes from npm (scripts/test.sh installs it);
  # npm itself is added below unless the installed node brings its own.
  nodejs
  # The Ctrl-C tests deliver signals at chosen system calls.
  strace
)
fuzz=(
  # clang with libFuzzer for the fuzz targets.
  clang-14 libclang-rt-14-dev
)
sweep=(
  # scripts/format_sweep.sh: the assimp command converts the examples to every format.
  assimp-utils
  # Source layout check (scripts/format.sh).
  clang-format
)

groups=("$@")
if [ ${#groups[@]} -eq 0 ]; then groups=(build); fi
packages=()
for g in "${groups[@]}"; do
  case $g in
    build) packages+=("${build[@]}") ;;
    test) packages+=("${build[@]}" "${test[@]}") ;;
    windows) packages+=("${build[@]}" "${windows[@]}") ;;
    fuzz) packages+=("${build[@]}" "${fuzz[@]}") ;;
    sweep) packages+=("${build[@]}" "${sweep[@]}") ;;
    all) packages+=("${build[@]}" "${test[@]}" "${windows[@]}" "${fuzz[@]}" "${sweep[@]}") ;;
    *)
      echo "setup: unknown group '$g' (build, test, windows, fuzz, sweep, all)" >&2
      exit 2
      ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    case " ${missing[*]} " in *" $p "*) ;; *) missing+=("$p") ;; esac
  fi
done

# The tests' npm, unless the installed node brings its own.
case " ${groups[*]} " in
  *" test "* | *" all "*) if ! command -v npm >/dev/null; then missing+=(npm); fi ;;
esac

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present (${groups[*]})"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
# Recommended packages only where the Windows tools may want them.
recommends=(--no-install-recommends)
case " ${groups[*]} " in *" all "* | *" windows "*) recommends=() ;; esac
"${sudo_cmd[@]}" apt-get install -y -qq "${recommends[@]}" "${missing[@]}"
