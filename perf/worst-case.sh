#!/usr/bin/env bash
# The module's cost for constructed worst-case packets, on the release build:
# the figures of the limits table in docs/robustness.md.
#
#   perf/worst-case.sh [BUILD_DIR] [--instructions]     (default build/release)
#
# Every shape of perf/Shapes.cc at its largest (sapp_worst_case --maximal:
# about 64 KB of packet, or zipped lists inflating to the host's default
# unzip limit, 4 MiB, in a packet that still fits), then the log-heavy
# shapes with the host's log level on. sapp_worst_case prints the packet's
# size and what it inflates to, onPacket's time (wall and CPU), and the
# memory: the rise of resident memory at the peak, what the event holds,
# and the peak beyond it; times are this machine's, so run it on an idle
# one and read them as the scale of the cost. --instructions adds what
# callgrind counts: for everything onPacket runs, and for the module alone
# (the host's inflation, ProtoHelper::UnZipString, left out). Counts are the
# same on every run and machine (but for a few instructions of the
# registry's hashing, whose keys each process draws).
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

# Prints callgrind's count for one run; extra options toggle functions off.
instructions() {
    local args=("$@") options=()
    while [ "${args[0]}" != -- ]; do options+=("${args[0]}"); args=("${args[@]:1}"); done
    valgrind --tool=callgrind --callgrind-out-file="$work/out" --collect-atstart=no \
        --toggle-collect=sapp_worst_case_deliver --toggle-collect=sapp_worst_case_heap "${options[@]}" \
        "$bin" "${args[@]:1}" >/dev/null 2>&1
    awk '/^(summary|totals):/ { print $2; exit }' "$work/out"
}

run() {
    "$bin" "$@"
    [ "$count" = yes ] || return 0
    echo "    $(instructions -- "$@") instructions, $(instructions --toggle-collect='ProtoHelper::UnZipString(*' -- "$@") without the host's inflation"
}

"$bin" --maximal >"$work/maximal"
while read -r shape n zip; do
    # shellcheck disable=SC2086  # zip is empty or --zip
    run "$shape" "$n" $zip
done <"$work/maximal"
# The host's log level on: a line per listed or deleted id.
run add-ids 16372 --log
run add-quadratic 5450 --log
run add-listed-ids 5450 --log
run add-repeated-proxy 524282 --zip --log
run del-ids 16374 --log
run del-listed 4080 --log
run del-colliding 8180 --log
# A client request after the largest V3 add: its uplink carries 8,180 proxies.
run v3-proxies 8180 --request
