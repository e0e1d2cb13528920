#!/usr/bin/env bash
# Golden bytes: exports every case of tests/golden/cases.txt with the built
# command and compares what came out with tests/golden/expected.txt.
#
#   scripts/golden.sh                 check; exits 1 when any entry differs
#   scripts/golden.sh --update        rewrite expected.txt and list the entries that changed
#
# Options:
#   --quorvex PATH   the command to run (default build/quorvex)
#   --inputs DIR     read the cases' inputs below DIR instead of the project's
#                    root (a copy set aside, to see that a change is caught)
#   --only REGEX     only the cases whose id matches
#   --self-test      change one number of the windmill in a copy set aside and
#                    succeed only if the check then fails on that case
#
# Each entry is "ID written SHA256" (the written file's hash) or
# "ID refused-STATUS SHA256" (the hash of what the command said on standard
# error; a refusal that leaves a file behind is an error of its own).
# The export path must never change by accident: a change to expected.txt
# needs its reason in the commit message.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

quorvex=$root/build/quorvex
inputs=$root
only=
update=0
self_test=0
while [ $# -gt 0 ]; do
  case $1 in
    --update) update=1 ;;
    --self-test) self_test=1 ;;
    --quorvex) quorvex=$(realpath "$2"); shift ;;
    --inputs) inputs=$(realpath "$2"); shift ;;
    --only) only=$2; shift ;;
    -h | --help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "golden: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
  shift
done

cases=$root/tests/golden/cases.txt
expected=$root/tests/golden/expected.txt
if ! [ -x "$quorvex" ]; then
  echo "golden: $quorvex is not built (run scripts/test.sh first)" >&2
  exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if [ $self_test -eq 1 ]; then
  copy=$scratch/copy/examples/windmill
  mkdir -p "$copy"
  cp "$root"/examples/windmill/* "$copy/"
  # The first coordinate of the first vertex list, nudged.
  python3 - "$copy/windmill.scene.json" <<'PY' || exit 2
import re, sys
path = sys.argv[1]
text = open(path).read()
at = text.index('"verts"')
m = re.compile(r"-?\d+(\.\d+)?").search(text, at)
open(path, "w").write(text[:m.start()] + str(float(m.group(0)) + 0.25) + text[m.end():])
PY
  report=$("$0" --quorvex "$quorvex" --inputs "$scratch/copy" --only '^windmill\.8bit$')
  if [ $? -eq 1 ] && grep -q '^FAIL windmill.8bit ' <<<"$report"; then
    echo "golden: a changed vertex in a copy of the windmill is caught"
    echo "golden: 1 passed, 0 failed"
    exit 0
  fi
  echo "golden: a changed vertex in a copy of the windmill went unnoticed:"
  echo "$report"
  echo "golden: 0 passed, 1 failed"
  exit 1
fi

# Messages name the input and the output as given, so both are named the same
# way on every run: from the scratch folder, the inputs through a link.
ln -s "$inputs" "$scratch/src"

# outcome INPUT FLAGS...: one table entry's status and hash.
outcome() {
  local input=$1 out=$scratch/out.mdl status
  shift
  rm -f "$out"
  (cd "$scratch" && "$quorvex" export "src/$input" -o out.mdl -q "$@" >/dev/null 2>stderr </dev/null)
  status=$?
  if [ $status -eq 0 ] && [ -f "$out" ]; then
    echo "written $(sha256sum "$out" | cut -d' ' -f1)"
  elif [ $status -ne 0 ] && ! [ -e "$out" ]; then
    echo "refused-$status $(sha256sum "$scratch/stderr" | cut -d' ' -f1)"
  else
    echo "broken-$status (exit status and written file disagree: $(head -c 200 "$scratch/stderr"))"
  fi
}

declare -A want
if [ -f "$expected" ]; then
  while read -r id rest; do
    case $id in '' | '#'*) continue ;; esac
    want[$id]=$rest
  done <"$expected"
fi

passed=0
failed=0
table=$scratch/table
: >"$table"
while read -r id input flags; do
  case $id in '' | '#'*) continue ;; esac
  if [ -n "$only" ] && ! [[ $id =~ $only ]]; then continue; fi
  # shellcheck disable=SC2086  # the flags are words by design
  got=$(outcome "$input" $flags)
  echo "$id $got" >>"$table"
  if [ "${want[$id]:-}" = "$got" ]; then
    passed=$((passed + 1))
  elif [ $update -eq 1 ]; then
    echo "changed $id: ${want[$id]:-(new)} -> $got"
  else
    echo "FAIL $id ($input $flags)"
    echo "    expected: ${want[$id]:-(no entry: run scripts/golden.sh --update)}"
    echo "    got:      $got"
    failed=$((failed + 1))
  fi
done <"$cases"

if [ $update -eq 1 ]; then
  if [ -n "$only" ]; then
    echo "golden: --update rewrites the whole table; run it without --only" >&2
    exit 2
  fi
  {
    echo "# Written by scripts/golden.sh --update from tests/golden/cases.txt; do not edit by hand."
    cat "$table"
  } >"$expected"
  echo "golden: wrote $expected ($(wc -l <"$table") entries)"
  exit 0
fi
echo "golden: $passed passed, $failed failed"
[ $failed -eq 0 ]
