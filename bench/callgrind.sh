#!/usr/bin/env bash
# The module's instructions per message, counted by callgrind on sapp-bench.
#
#   bench/callgrind.sh [--quick] [BUILD_DIR] [BENCHMARK...]     (default build/bench, the list below)
#
# Each benchmark runs twice for a fixed number of iterations
# (SAPP_BENCH_ITERATIONS): 1,000 and 3,000 messages, 2 and 4 app lists
# (BM_AppList/N, and its floor BM_AppListEvent/N when named); with
# --quick 100 and 300 messages, 1 and 3 app lists, which takes half the time
# (the cost budget, bench/budget.sh). The difference in instructions divided
# by the difference in messages (apps, for the lists) is the cost of one,
# so that set-up and teardown cancel out. (A benchmark also drops what its
# set-up counted when its timed loop starts, SAPP_BENCH_ZERO_AT_LOOP and
# startMeasuring in bench/SappBench.cc: filling a registry costs each
# process a different number of hash probes, which two runs would not
# cancel.) The two iteration counts give the same figures to within about
# 1 % (BM_UplinkV2/8: 1,213 and 1,225). Counting is on only inside the
# module's entry points onPacket and onRequest (and inside the bench host's
# buildAppListEvent, which BM_AppListEvent times) and off again inside the
# host's callbacks (the bench session's postAppEvent and sendRequest): a figure is
# the module's own instructions with the C and C++ runtime calls it makes,
# without the host's callbacks, and without the bench host's count of
# allocations (its malloc, calloc and realloc hand each call on to the C
# library's, which is counted; bench/AllocationCount.h). Two figures per
# benchmark:
#   module    all counted instructions (the module's cost per message)
#   self      the part executed in libsapp.so's own code
# Prints one line per benchmark: "name module self".
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/callgrind-run.sh
source bench/callgrind-run.sh

messages=(1000 3000) lists=(2 4)
if [ "${1:-}" = --quick ]; then
    messages=(100 300) lists=(1 3)
    shift
fi
build="${1:-build/bench}"
[ $# -gt 0 ] && shift
bench="$build/bin/sapp-bench"
[ -x "$bench" ] || { echo "bench/callgrind.sh: no $bench (cmake --build --preset bench --target sapp-bench)" >&2; exit 2; }
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(BM_DownlinkV3Data BM_DownlinkV2Data BM_UplinkV3 BM_UplinkV2/8 BM_AppList/1000
                                 BM_DownlinkV3Data/sources:1 BM_DownlinkV3Data/sources:100000
                                 BM_DownlinkV3Data/apps:1 BM_DownlinkV3Data/apps:100000)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export SAPP_BENCH_ZERO_AT_LOOP=1

# Prints "module self" for NAME run ITERATIONS times.
count() {
    local name=$1 iterations=$2 out="$work/callgrind.out"
    callgrind_run "$bench" "$name" "$iterations" "$work" || exit 1
    grep -q "^${name}/iterations:${iterations} " "$work/bench.log" ||
        { echo "bench/callgrind.sh: $bench has no benchmark $name" >&2; exit 1; }
    callgrind_annotate --threshold=100 "$out" | tr -d , |
        awk '/PROGRAM TOTALS/ { total = $1 } /\[.*libsapp\.so\]$/ { self += $1 }
             /:(malloc|calloc|realloc) \[.*\/sapp-bench\]$/ { counting += $1 }
             END { printf "%d %d\n", total - counting, self }'
}

for name in "${names[@]}"; do
    case "$name" in
    BM_AppList*/*) short=${lists[0]} long=${lists[1]} per=$(((long - short) * ${name#*/})) ;;
    *) short=${messages[0]} long=${messages[1]} per=$((long - short)) ;;
    esac
    count "$name" "$short" >"$work/short"
    count "$name" "$long" >"$work/long"
    read -r totalShort selfShort <"$work/short"
    read -r totalLong selfLong <"$work/long"
    awk -v n="$name" -v t=$((totalLong - totalShort)) -v s=$((selfLong - selfShort)) -v m="$per" \
        'BEGIN { printf "%s %.1f %.1f\n", n, t / m, s / m }'
done
