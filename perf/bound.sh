#!/usr/bin/env bash
# Is every packet's cost bounded per byte? For each worst-case shape at its
# largest (sapp_worst_case --maximal: 64 KB of packet, or zipped lists
# inflating to the host's 4 MiB limit), on the release build with logging
# off and the default unzip limit, checks the module's bounds:
#
#   work       the module's instructions (callgrind, inside onPacket, the
#              host's inflation left out) at most 300 per byte of packet
#              plus 20 per inflated byte, and 100 M in all. A packet byte
#              can cost more than an inflated one: 4 bytes of idSet are a
#              tree node, and 1.5 zipped bytes, the least deflate packs a
#              distinct map entry into, inflate to 12 bytes of a sidApps
#              entry and its node; what deflate packs tighter than that
#              repeats, and repeats cost the module less (a repeated key is
#              read past, a repeated id skipped, a repeated proxy dropped).
#   memory     the resident memory beyond the event the host receives (the
#              peak less what the event holds) at most twice the inflated
#              payload plus 4 MiB (the host's inflation holds up to 1.5
#              times what it inflates; what the registry keeps counts
#              here too), and 32 MiB in all.
#
#   perf/bound.sh [--quick] BUILD_DIR [SHAPE N [--zip]]...
#
# --quick runs the zipped shapes at an eighth of their size (the bounds are
# per byte; perf/growth.sh shows the cost grows no faster than the bytes),
# and is what CI runs (about 30 s). Prints one line per shape and fails
# when a bound is exceeded. Needs valgrind; instruction counts depend only
# on the binary and its input, memory on the allocator too.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=no
if [ "${1:-}" = --quick ]; then
    quick=yes
    shift
fi
build="${1:?usage: perf/bound.sh [--quick] BUILD_DIR [SHAPE N [--zip]]...}"
shift
bin="$build/bin/sapp_worst_case"
[ -x "$bin" ] || { echo "perf/bound.sh: no $bin" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "perf/bound.sh: needs valgrind (apt-get install valgrind)" >&2; exit 2; }

perPacketByte=300
perInflatedByte=20
ceiling=100000000
memPerByte=2
memBaseMiB=4
memCeilingMiB=32

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ $# -gt 0 ]; then
    printf '%s\n' "$*" >"$work/cases"
else
    "$bin" --maximal | while read -r shape n zip; do
        [ "$quick" = yes ] && [ -n "$zip" ] && n=$((n / 8))
        echo "$shape $n $zip"
    done >"$work/cases"
fi

failed=0
printf '%-34s %9s %9s %12s %8s %9s %9s  %s\n' shape packet inflated instructions "of bound" "peak MiB" "event MiB" verdict
while read -r shape n zip; do
    # shellcheck disable=SC2086  # zip is empty or --zip
    line=$("$bin" "$shape" "$n" $zip)
    bytes=$(sed -E 's/.* of ([0-9]+) bytes .*/\1/' <<<"$line")
    inflated=$(sed -E 's/.*\(([0-9]+) inflated\).*/\1/' <<<"$line")
    peak=$(sed -E 's/.*resident \+([0-9.]+) MiB at peak.*/\1/' <<<"$line")
    event=$(sed -E 's/.*the event holds ([0-9.]+) MiB.*/\1/' <<<"$line")
    # shellcheck disable=SC2086
    valgrind --tool=callgrind --callgrind-out-file="$work/out" --collect-atstart=no \
        --toggle-collect=sapp_worst_case_deliver --toggle-collect=sapp_worst_case_heap \
        --toggle-collect='ProtoHelper::UnZipString(*' "$bin" "$shape" "$n" $zip >/dev/null 2>"$work/valgrind.log" ||
        { cat "$work/valgrind.log" >&2; exit 2; }
    count=$(awk '/^(summary|totals):/ { print $2; exit }' "$work/out")
    verdict=$(awk -v c="$count" -v b="$bytes" -v i="$inflated" -v p="$peak" -v e="$event" -v pb="$perPacketByte" \
        -v ib="$perInflatedByte" -v cl="$ceiling" -v mb="$memPerByte" -v mbase="$memBaseMiB" -v mcl="$memCeilingMiB" 'BEGIN {
        v = ""
        if (c > pb * b + ib * i) v = v " over " pb " instructions a packet byte and " ib " an inflated one;"
        if (c > cl) v = v " over " cl " instructions;"
        beyond = p - e
        if (beyond > mb * i / 1048576 + mbase) v = v " over " mb " bytes of memory an inflated byte;"
        if (beyond > mcl) v = v " over " mcl " MiB beyond the event;"
        print (v == "" ? "ok" : "FAILS:" v) }')
    printf '%-34s %9s %9s %12s %7.0f%% %9s %9s  %s\n' "$shape $n${zip:+ zip}" "$bytes" "$inflated" "$count" \
        "$(awk -v c="$count" -v b="$bytes" -v i="$inflated" -v pb="$perPacketByte" -v ib="$perInflatedByte" \
            'BEGIN { print 100 * c / (pb * b + ib * i) }')" "$peak" "$event" "$verdict"
    [ "$verdict" = ok ] || failed=1
done <"$work/cases"
exit $failed
