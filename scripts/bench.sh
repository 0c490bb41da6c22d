#!/usr/bin/env bash
# Builds sapp-bench (bench preset), runs it and writes docs/performance.md
# with the figures, the ratios to the baselines and a plot of the cost per
# message against the registry's size (docs/performance.svg).
#
#   scripts/bench.sh              run and write docs/performance.md
#   scripts/bench.sh --callgrind  also count the instructions per message
#                                 with callgrind (bench/callgrind.sh, ~1 min more)
#
# The run takes about a minute on an idle machine; the figures are wall and
# CPU times of this machine, which the page names. Not part of CI's verdict.
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
  counts=(--callgrind "$work/callgrind.txt")
fi

compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/bench/CMakeCache.txt)
/usr/bin/python3 bench/report.py "$work/bench.json" --compiler "$("$compiler" --version | head -1)" \
  --markdown docs/performance.md --plot docs/performance.svg "${counts[@]}"
echo "wrote docs/performance.md and docs/performance.svg"
