#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Safe to run
# again: when everything is present it installs nothing.
set -euo pipefail

packages=(
  cmake g++ make
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libstb-dev libtinygltf-dev libassimp-dev libcli11-dev
  # Picture decoders, and clang with libFuzzer for the fuzz targets.
  libpng-dev libjpeg62-turbo-dev
  clang-14 libclang-rt-14-dev
  # Animated previews and the man page.
  libgif-dev help2man
  # The scripts that make the benchmark scenes.
  python3
  # scripts/format_sweep.sh: the assimp command converts the examples to every format.
  assimp-utils
  # The Windows library: cross-compilers, and Wine in a virtual display to test it.
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 xvfb icoutils
  # The Ctrl-C tests deliver signals at chosen system calls.
  strace
  # Source layout check (scripts/format.sh).
  clang-format
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
