#!/usr/bin/env bash
# Every path the documents name exists: each `room/File.ext` or `room/` in
# backquotes in README.md and docs/*.md, taken from the top of the tree.
# Prints each missing path with the document that names it; exits 1 if any.
set -uo pipefail
cd "$(dirname "$0")/.."

# Folders a run makes, named by the documents before they exist.
made_by_runs=" fuzz/assimp-crashes/ "

missing=0
for doc in README.md docs/*.md; do
  # Paths start with a folder of the tree; commands, flags and file patterns do not.
  while read -r path; do
    case $made_by_runs in *" $path "*) continue ;; esac
    [ -e "$path" ] || { echo "$doc: $path does not exist"; missing=1; }
  done < <(grep -o '`[A-Za-z0-9_.-]*/[A-Za-z0-9_./-]*`' "$doc" | tr -d '`' | sort -u |
    while read -r p; do
      top=${p%%/*}
      [ "$top" = ".." ] && continue
      if [ -d "$top" ] && [[ $p != *'*'* ]]; then echo "$p"; fi
    done)
done
exit $missing
