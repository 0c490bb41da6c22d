#!/usr/bin/env bash
# Runs fuzz targets of the fuzz preset from a copy of their committed corpus.
#
#   fuzz/run.sh SECONDS [TARGET...]   TARGET: module, records, scenario (default: all)
#
# Builds the fuzz preset, then runs each target in turn for SECONDS, one
# process, from a copy of fuzz/corpus/TARGET (new inputs stay in the copy,
# the checkout is not written). libFuzzer's final statistics and its
# coverage (cov: edges, ft: features) are printed for each. A crash, leak,
# timeout or sanitizer report fails the run; libFuzzer writes the input that
# caused it to build/fuzz/findings/TARGET/ (docs/robustness.md says what to
# do with it). FUZZ_KEEP=DIR keeps the grown corpora in DIR/TARGET.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
    echo "usage: fuzz/run.sh SECONDS [module|records|scenario]..." >&2
    exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(module records scenario)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "${targets[@]}"; do
    corpus="$work/$target"
    findings="build/fuzz/findings/$target"
    mkdir -p "$corpus" "$findings"
    cp fuzz/corpus/"$target"/* "$corpus"/
    echo "== fuzz_$target: $seconds s from $(ls "$corpus" | wc -l) inputs =="
    # Findings go to $findings; rss and time limits catch runaway inputs.
    if ! build/fuzz/bin/fuzz_"$target" "$corpus" -dict=fuzz/sapp.dict -max_total_time="$seconds" \
            -timeout=1 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
            -artifact_prefix="$findings/" 2>"$work/$target.log"; then
        status=1
        echo "fuzz_$target: FAILED; input in $findings/" >&2
        tail -60 "$work/$target.log" >&2
    fi
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units|^stat::peak_rss_mb|^stat::new_units_added' \
        "$work/$target.log" || tail -5 "$work/$target.log"
    if [ -n "${FUZZ_KEEP:-}" ]; then
        mkdir -p "$FUZZ_KEEP/$target"
        cp "$corpus"/* "$FUZZ_KEEP/$target"/
    fi
done
exit $status
