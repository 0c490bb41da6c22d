#!/usr/bin/env bash
# Does sapp-host's own work grow faster than its input? Like perf/growth.sh
# for the module: for each case, counts the instructions sapp-host executes
# (callgrind, the whole process and, for check, the scenario's own process
# too) at size N and at 8N, takes off the count at size 1 (loading the
# module, reading the scenario: what does not grow), and compares. Work
# linear in the input grows about 8 times (a little more where an ordered
# container adds its log factor); quadratic work grows 64 times. A case
# whose count grows more than LIMIT times (default 12) fails.
#
#   perf/tool-growth.sh BUILD_DIR [CASE[:N]...]      (default: the table below)
#
# Cases:
#   decode-map     decode of a PDelAppReq whose zipped sidApps map holds N sids
#   run-map        run of a scenario that delivers that packet
#   check-expect   check of a step whose N log lines are matched, in order, by
#                  N expectations (not exact)
#   check-map      check of an exact expectation of that packet's event, a map
#                  of N entries compared with the line's
#
# Instruction counts depend only on the binary and its input, not on the
# machine's load, so the verdict is the same on every run. Needs valgrind.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:?usage: perf/tool-growth.sh BUILD_DIR [CASE[:N]...]}"
shift
host="$build/bin/sapp-host"
[ -x "$host" ] || { echo "perf/tool-growth.sh: no $host" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "perf/tool-growth.sh: needs valgrind (apt-get install valgrind)" >&2; exit 2; }
limit="${GROWTH_LIMIT:-12}"

# Each case at its smaller size N: large enough for the per-element work to
# dwarf what sapp-host does once, small enough for 8N under callgrind to
# take seconds in a Debug build.
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(decode-map:250 run-map:250 check-expect:60 check-map:500)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The fields of a PDelAppReq whose zipped sidApps map holds N sids, each
# listing one app.
del_fields() {
    awk -v n="$1" 'BEGIN {
        printf "{\"sid\": 1234, \"appIds\": [5], \"sidAppsZipped\": 1, \"sidApps\": {\"sidApps\": {"
        for (i = 1; i <= n; i++) printf "%s\"%d\": {\"appIds\": [5]}", (i > 1 ? ", " : ""), i
        printf "}, \"sidAttrs\": {}}}"
    }'
}

# A scenario: a session opened, then `$2` as its second step.
scenario() {
    printf '{"host": {"databases": {"1234": {"dwSGroupId": 1}}}, "steps": [{"open": {"session": "a", "sid": 1234}},\n%s]}\n' "$1"
}

# The input of case $1 at size $2, made in $work: prints the command line
# that plays it; what it reads from standard input, if anything, is the
# file stdin beside it.
prepare() {
    local name=$1 n=$2 dir="$work/$1-$2"
    mkdir -p "$dir"
    case "$name" in
    decode-map)
        del_fields "$n" | "$host" encode --record PDelAppReq - >"$dir/stdin"
        echo "decode --record PDelAppReq -"
        ;;
    run-map)
        scenario "{\"packet\": {\"sid\": 1234, \"uri\": 257490, \"record\": $(del_fields "$n")}}" >"$dir/s.json"
        echo "run $dir/s.json"
        ;;
    check-expect)
        # A notice adding N apps logs a line for each, in app order.
        awk -v n="$n" 'BEGIN {
            printf "{\"packet\": {\"sid\": 1234, \"uri\": 256978, \"record\": {\"sid\": 1234, \"appIds\": ["
            for (i = 1; i <= n; i++) printf "%s%d", (i > 1 ? ", " : ""), i
            printf "], \"appPacks\": {\"apps\": {"
            for (i = 1; i <= n; i++) printf "%s\"%d\": {\"appId\": %d, \"proxyIds\": [%d]}", (i > 1 ? ", " : ""), i, i, i
            printf "}}, \"sidApps\": {\"sidApps\": {}, \"sidAttrs\": {}}}},\n \"expect\": ["
            for (i = 1; i <= n; i++) printf "%s{\"log\": {\"text\": \"[sapp] AppMgr, sid/app_id= 1234, %d\"}}", (i > 1 ? ", " : ""), i
            printf "]}"
        }' >"$dir/step"
        scenario "$(cat "$dir/step")" >"$dir/s.json"
        echo "check $dir/s.json"
        ;;
    check-map)
        scenario "{\"packet\": {\"sid\": 1234, \"uri\": 257490, \"record\": $(del_fields "$n")}}" >"$dir/s.json"
        "$host" record "$dir/s.json" --in-place 2>/dev/null
        echo "check $dir/s.json"
        ;;
    *) echo "perf/tool-growth.sh: no case $name" >&2; exit 2 ;;
    esac
}

# Prints the instructions sapp-host executes for case $1 at size $2, with
# the processes it starts.
count() {
    local args input="$work/$1-$2/stdin"
    args=$(prepare "$1" "$2")
    [ -f "$input" ] || input=/dev/null
    rm -f "$work"/out.*
    # shellcheck disable=SC2086  # the prepared arguments hold no spaces
    valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$work/out.%p" \
        "$host" $args <"$input" >"$work/run.log" 2>"$work/valgrind.log" ||
        { cat "$work/valgrind.log" "$work/run.log" >&2; exit 2; }
    cat "$work"/out.* | awk '/^(summary|totals):/ { total += $2 } END { print total }'
}

failed=0
printf '%-22s %14s %14s %14s %7s\n' "case" "at 1" "N" "8N" "growth"
for c in "${cases[@]}"; do
    IFS=: read -r name n <<<"$c"
    base=$(count "$name" 1)
    small=$(count "$name" "$n")
    large=$(count "$name" $((8 * n)))
    growth=$(awk -v b="$base" -v s="$small" -v l="$large" 'BEGIN { printf "%.1f", (l - b) / (s - b) }')
    verdict=ok
    if awk -v g="$growth" -v l="$limit" 'BEGIN { exit !(g > l) }'; then
        verdict="FAILS: grows faster than its input (limit ${limit}x)"
        failed=1
    fi
    printf '%-22s %14s %14s %14s %6sx %s\n' "$name N=$n" "$base" "$small" "$large" "$growth" "$verdict"
done
exit $failed
