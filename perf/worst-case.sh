#!/usr/bin/env bash
# The module's cost for constructed worst-case packets, on the release build:
# the figures of the limits table in docs/robustness.md.
#
#   perf/worst-case.sh [BUILD_DIR] [--instructions]     (default build/release)
#
# Each record's worst shapes (perf/Shapes.cc) at about 64 KB of packet, and
# the zipped ones at what fits the host's default unzip limit (4 MiB
# inflated, a few KB zipped); the log-heavy shapes again with the host's log
# level on. sapp_worst_case prints the packet's size, onPacket's time and
# the memory it took; times are wall clock on this machine, so run it on an
# idle one and read them as the scale of the cost. --instructions adds what
# callgrind counts for the module's calls (sapp_worst_case_deliver and all it
# calls): the same on every run and every machine.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
count=no
for arg in "$@"; do
    case "$arg" in
    --instructions) count=yes ;;
    *) build=$arg ;;
    esac
done
bin="$build/bin/sapp_worst_case"
[ -x "$bin" ] || { echo "perf/worst-case.sh: no $bin (cmake --build --preset release)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {
    "$bin" "$@"
    [ "$count" = yes ] || return 0
    valgrind --tool=callgrind --callgrind-out-file="$work/out" --collect-atstart=no \
        --toggle-collect=sapp_worst_case_deliver "$bin" "$@" >/dev/null 2>&1
    echo "    $(awk '/^(summary|totals):/ { print $2; exit }' "$work/out") instructions"
}
# PAddAppReq, unzipped, about 64 KB.
run add-ids 16380;              run add-ids 16380 --log
run add-idset 16380
run add-packs 1480
run add-sidapps 16370
run add-quadratic 5450;         run add-quadratic 5450 --log
run add-repeated-proxy 5450
run add-listed-ids 5450;        run add-listed-ids 5450 --log
run add-sids 3630
run add-colliding 1460
# PAddAppReq, zipped, inflating to the default 4 MiB limit.
run add-sidapps 1048570 --zip
run add-repeated-proxy 65536 --zip;     run add-repeated-proxy 65536 --zip --log
run add-repeated-proxy 131072 --zip
run add-quadratic 42000 --zip
run add-sids 19000 --zip
run add-packs 8300 --zip
# PDelAppReq, about 64 KB.
run del-ids 16380;              run del-ids 16380 --log
run del-listed 3630;            run del-listed 3630 --log
run del-colliding 16380;      run del-colliding 16380 --log
# PUserMsg3, about 64 KB.
run v2-versions 4000
run v2-idlist 16370
# PAppMsgToClient, about 64 KB.
run v3-proxies 8180 --request
run v3-update 8180
run v3-data 65000
# Announce-app notice, 64 KB.
run announce 65536
