#!/usr/bin/env bash
# The scene-file reader against the hand-written parser it replaced
# (SceneLoadBench.cpp): rounds of the two taking turns, so that a busy machine
# disturbs both alike, then the least processor time each needed (the round
# disturbed least) and their ratio. Needs build/quorvex_bench.
#   bench/scene_load.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10}
for _ in $(seq "$rounds"); do
  for b in BigScene BigSceneQuickParser Windmill WindmillQuickParser; do
    build/quorvex_bench --benchmark_filter="^SceneLoad_$b\$" --benchmark_format=csv 2>/dev/null | grep '^"SceneLoad_'
  done
done | awk -F, '{
    name = $1; gsub(/"/, "", name); sub(/^SceneLoad_/, "", name); cpu = $4 + 0
    if (!(name in best) || cpu < best[name]) { best[name] = cpu; unit[name] = $5 }
  }
  END {
    for (n in best) if (n !~ /QuickParser$/) {
      q = n "QuickParser"
      printf "%-10s reader %9.3f %s   quick parser %9.3f %s   reader / quick parser %.2f\n",
        n, best[n], unit[n], best[q], unit[q], best[n] / best[q]
    }
  }'
