#!/usr/bin/env bash
# Builds sapp-bench (bench preset: the release build with the benchmarks),
# runs it and writes docs/performance.md with the figures, the ratios to the
# baselines, a plot of the cost per message against the registry's size
# (docs/performance.svg) and the cost budget of bench/budget.json.
#
#   scripts/bench.sh              run and write docs/performance.md
#   scripts/bench.sh --callgrind  also count the instructions per message
#                                 with callgrind and say where they go
#                                 (bench/callgrind.sh, bench/profile.sh, ~2 min more)
#
# The run takes about a minute on an idle machine; the figures are wall and
# CPU times of this machine, which the page names. Not part of CI's verdict
# (CI checks the instruction counts against their budget: bench/budget.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

callgrind=no
case "${1:-}" in
  "") ;;
  --callgrind) callgrind=yes ;;
  *) echo "usage: scripts/bench.sh [--callgrind]" >&2; exit 2 ;;
esac

scripts/deps.sh bench
cmake --preset bench >/dev/null
cmake --build --preset bench --target sapp-bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "== sapp-bench =="
build/bench/bin/sapp-bench --benchmark_min_time=0.2 --benchmark_format=console \
  --benchmark_out="$work/bench.json" --benchmark_out_format=json

counts=()
if [ "$callgrind" = yes ]; then
  echo "== callgrind =="
  bench/callgrind.sh build/bench | tee "$work/callgrind.txt"
  bench/profile.sh build/bench >"$work/profile.txt"
  counts=(--callgrind "$work/callgrind.txt" --profile "$work/profile.txt")
fi

compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/bench/CMakeCache.txt)
/usr/bin/python3 bench/report.py "$work/bench.json" --compiler "$("$compiler" --version | head -1)" \
  --markdown docs/performance.md --plot docs/performance.svg --budget bench/budget.json "${counts[@]}"
echo "wrote docs/performance.md and docs/performance.svg"
