#!/usr/bin/env bash
# Formats the C++ sources of the project's rooms with .clang-format.
#   scripts/format.sh           rewrite the files in place
#   scripts/format.sh --check   change nothing; list the files that differ and fail if any do
# Only the rooms' own sources count: examples, fixtures and the build trees are
# not ours to format, and the normal table keeps its hand-made layout.
set -euo pipefail
cd "$(dirname "$0")/.."

rooms=(plugin ui export model skin mdl scene standin import view cli tests bench)
excluded=(mdl/NormalTable.cpp)

formatter=${CLANG_FORMAT:-clang-format}
if ! command -v "$formatter" >/dev/null; then
  echo "format: $formatter not found (scripts/setup.sh installs it)" >&2
  exit 2
fi

files=()
while IFS= read -r f; do
  skip=0
  for e in "${excluded[@]}"; do [ "$f" = "$e" ] && skip=1; done
  [ $skip -eq 0 ] && files+=("$f")
done < <(find "${rooms[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) | LC_ALL=C sort)

if [ "${1:-}" = "--check" ]; then
  differing=0
  for f in "${files[@]}"; do
    if ! "$formatter" --style=file "$f" | cmp -s - "$f"; then
      echo "format: $f is not formatted (run scripts/format.sh)"
      differing=1
    fi
  done
  exit $differing
fi

"$formatter" --style=file -i "${files[@]}"
