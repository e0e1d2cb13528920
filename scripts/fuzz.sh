#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-fuzz/), makes their seed corpora and
# runs each target for SECONDS (default 60). An input that crashes a target is
# copied to fuzz/regressions/<target>/, where the test suite replays it, and
# the script fails. Pass target names after SECONDS to run only those.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=(scene model picture gltf obj); fi

dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -DQUORVEX_FUZZ=ON -DQUORVEX_TESTS=OFF -DQUORVEX_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
build=(fuzz_seeds quorvex)
for t in "${targets[@]}"; do build+=("fuzz_$t"); done
cmake --build "$dir" -j"$(nproc)" --target "${build[@]}"

./fuzz/make_seeds.sh "$dir"

failed=()
for t in "${targets[@]}"; do
  corpus="$dir/corpus/$t"
  artifacts="$dir/artifacts/$t"
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts" "fuzz/regressions/$t"
  log="$dir/fuzz-$t.log"
  echo "fuzz: $t for ${seconds}s"
  # Inputs stay small so each run is quick; one input may take at most 10 s
  # and 3 GB, far above what any limit lets through.
  maxlen=16384
  if [ "$t" = scene ]; then maxlen=65536; fi  # the bundled scene is 58 KB
  status=0
  ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 LSAN_OPTIONS=suppressions=fuzz/lsan.supp \
    "$dir/fuzz_$t" "$corpus" "fuzz/regressions/$t" -max_total_time="$seconds" -max_len="$maxlen" -timeout=10 \
    -rss_limit_mb=3072 -malloc_limit_mb=3072 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    >"$log" 2>&1 || status=$?
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  echo "fuzz: $t: ${runs:-?} runs, ${rate:-?} per second"
  found=0
  for crash in "$artifacts"/*; do
    [ -e "$crash" ] || continue
    cp "$crash" "fuzz/regressions/$t/"
    echo "fuzz: $t: kept $(basename "$crash") in fuzz/regressions/$t/"
    found=1
  done
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    tail -n 40 "$log"
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]} (logs in $dir/)"
  exit 1
fi
echo "fuzz: no findings"
