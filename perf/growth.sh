#!/usr/bin/env bash
# Does any packet cost the module more than its size? For each worst-case
# shape of perf/Shapes.cc, counts the instructions the module executes for
# the shape's packets at size N and at 8N (callgrind, counting only inside
# sapp_worst_case_deliver: the module and the host calls it makes) and
# compares them. Work linear in the input grows about 8 times (a little more
# where an ordered container adds its log factor); quadratic work grows 64
# times. A shape whose count grows more than LIMIT times (default 12) fails.
#
#   perf/growth.sh BUILD_DIR [SHAPE[:N]...]      (default: the table below)
#
# Instruction counts depend only on the binary and its input, not on the
# machine's load, so the verdict is the same on every run. Needs valgrind.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:?usage: perf/growth.sh BUILD_DIR [SHAPE[:N]...]}"
shift
bin="$build/bin/sapp_worst_case"
[ -x "$bin" ] || { echo "perf/growth.sh: no $bin" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "perf/growth.sh: needs valgrind (apt-get install valgrind)" >&2; exit 2; }
limit="${GROWTH_LIMIT:-12}"

# Shape and its smaller size N. N is large enough for the per-element work to
# dwarf the fixed cost of a call, small enough for 8N under callgrind to take
# seconds even where the work is quadratic. ":log" runs it with the host's
# log level on (a line per listed id for add-listed-ids).
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(
    add-quadratic:128 add-repeated-proxy:128 add-repeated-proxy:128:zip add-listed-ids:128 add-listed-ids:128:log
    add-sids:128 add-colliding:256 add-colliding:256:log add-ids:512 add-packs:256 add-sidapps:512
    del-listed:128 del-listed:128:log del-colliding:256 del-ids:512
    v2-versions:128 v2-adds:128 v2-adds:128:log v3-proxies:256 v3-update:256 v3-sources:128 v3-sources:128:log
    add-versions:128:zip add-listed-pack:512:zip add-duplicate-pack:128:zip add-pack-entries:256:zip add-sid-entries:512:zip
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints the instructions counted for SHAPE at size N with the extra options.
count() {
    local shape=$1 n=$2
    shift 2
    valgrind --tool=callgrind --callgrind-out-file="$work/out" --collect-atstart=no \
        --toggle-collect=sapp_worst_case_deliver --toggle-collect=sapp_worst_case_heap "$bin" "$shape" "$n" "$@" >"$work/run.log" 2>"$work/valgrind.log" ||
        { cat "$work/valgrind.log" "$work/run.log" >&2; exit 2; }
    awk '/^(summary|totals):/ { print $2; exit }' "$work/out"
}

failed=0
printf '%-30s %14s %14s %7s\n' "shape" "N" "8N" "growth"
for c in "${cases[@]}"; do
    IFS=: read -r shape n opt <<<"$c"
    extra=()
    [ "$opt" = zip ] && extra+=(--zip)
    [ "$opt" = log ] && extra+=(--log)
    small=$(count "$shape" "$n" "${extra[@]}")
    large=$(count "$shape" $((8 * n)) "${extra[@]}")
    growth=$(awk -v a="$small" -v b="$large" 'BEGIN { printf "%.1f", b / a }')
    verdict=ok
    if awk -v g="$growth" -v l="$limit" 'BEGIN { exit !(g > l) }'; then
        verdict="FAILS: grows faster than its input (limit ${limit}x)"
        failed=1
    fi
    printf '%-30s %14s %14s %6sx %s\n' "$shape${opt:+ ($opt)} N=$n" "$small" "$large" "$growth" "$verdict"
done
exit $failed
