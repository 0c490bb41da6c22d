#!/usr/bin/env bash
# The cost budget: the module's instructions per message for the benchmarks
# of bench/budget.json, counted by callgrind on the release build
# (bench/callgrind.sh --quick), against their budgets.
#
#   bench/budget.sh [BUILD_DIR]            check (default build/bench); CI runs this
#   bench/budget.sh --update [BUILD_DIR]   count, and write the figures into bench/budget.json
#
# A figure more than the file's tolerance (5 %) over its budget fails: the
# change made the module costlier. A figure as far under its budget fails
# too: the change made it cheaper, and its commit lowers the budget (run
# --update and commit bench/budget.json with the change), so that the next
# change cannot spend the saving unseen. Instruction counts depend on the
# binary and its input only, not on the machine's load; a new compiler can
# move them, and then --update records the new figures.
#
# Needs the bench preset's sapp-bench:
#   cmake --preset bench && cmake --build --preset bench --target sapp-bench
set -euo pipefail
cd "$(dirname "$0")/.."

update=no
if [ "${1:-}" = --update ]; then
    update=yes
    shift
fi
case "${1:-}" in -*) echo "usage: bench/budget.sh [--update] [BUILD_DIR]" >&2; exit 2 ;; esac
build="${1:-build/bench}"
file=bench/budget.json
command -v jq >/dev/null || { echo "bench/budget.sh: needs jq (scripts/deps.sh installs it)" >&2; exit 2; }

mapfile -t names < <(jq -r '.budgets | keys_unsorted[]' "$file")
tolerance=$(jq -r '.tolerance_percent' "$file")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "bench/budget.sh: counting ${#names[@]} benchmarks under callgrind ($build/bin/sapp-bench)"
bench/callgrind.sh --quick "$build" "${names[@]}" >"$work/counts"

if [ "$update" = yes ]; then
    # The measured figures, rounded, in the file's order; the rest of the file as it was.
    jq --rawfile counts "$work/counts" '
        ($counts | split("\n") | map(select(length > 0) | split(" ") | {key: .[0], value: (.[1] | tonumber | round)})
         | from_entries) as $measured
        | .budgets |= with_entries(.value = $measured[.key])' "$file" >"$work/budget.json"
    mv "$work/budget.json" "$file"
    echo "bench/budget.sh: wrote $file:"
    jq -r '.budgets | to_entries[] | "  \(.key) \(.value)"' "$file"
    exit 0
fi

failed=0
printf '%-20s %8s %10s %8s  %s\n' benchmark budget measured change verdict
while read -r name module _; do
    budget=$(jq -r --arg n "$name" '.budgets[$n]' "$file")
    verdict=$(awk -v m="$module" -v b="$budget" -v t="$tolerance" 'BEGIN {
        change = (m - b) * 100 / b
        if (change > t) verdict = "FAILS: more than " t " % over its budget"
        else if (change < -t) verdict = "FAILS: more than " t " % under its budget, lower it (bench/budget.sh --update)"
        else verdict = "ok"
        printf "%+7.1f%%  %s", change, verdict }')
    printf '%-20s %8s %10s %s\n' "$name" "$budget" "$module" "$verdict"
    [[ "$verdict" == *FAILS* ]] && failed=1
done <"$work/counts"

if [ "$failed" = 1 ]; then
    echo "bench/budget.sh: the module's cost per message left its budget ($file, tolerance $tolerance %)." >&2
    echo "  A costlier figure needs a cheaper change; a cheaper one lowers its budget in the same commit:" >&2
    echo "  bench/budget.sh --update, then commit $file. See docs/performance.md." >&2
    exit 1
fi
echo "bench/budget.sh: every figure within $tolerance % of its budget"
