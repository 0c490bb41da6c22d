#!/usr/bin/env bash
# Is every packet's cost bounded per byte? For each worst-case shape at its
# largest (sapp_worst_case --maximal: 64 KB of packet, or zipped lists
# inflating to the host's 4 MiB limit), on the release build with logging
# off and the default unzip limit, checks the module's bounds:
#
#   work       the module's instructions (callgrind, inside onPacket, the
#              host's inflation left out) at most 500 per byte of packet
#              plus 16 per inflated byte, and 100 M in all. An inflated
#              byte can be repeated at no cost to the sender, so it is held
#              to what the costliest repeated element costs a byte (about
#              14: a listing of 4 bytes that names another pack than the
#              one before, one hash lookup); a packet byte also pays for
#              what cannot be repeated, a distinct map entry, a tree node
#              of the event, that deflate packs into no less than about 1.5
#              bytes (docs/robustness.md derives both).
#   memory     the resident memory beyond the event the host receives (the
#              peak less what the event holds) at most twice the inflated
#              payload plus 4 MiB (the host's inflation holds up to 1.5
#              times what it inflates; what the registry keeps counts
#              here too), and 32 MiB in all.
#
#   perf/bound.sh [--quick] BUILD_DIR [SHAPE N [--zip]]...
#   perf/bound.sh --programs BUILD_DIR FILE_OR_FOLDER...
#
# --programs judges fuzz_module programs instead (what fuzz_cost kept as
# its costliest, fuzz/run.sh): each is replayed by the build's
# fuzz_module_replay, the module's instructions counted inside its calls
# (sapp_fuzz_module_call, the host's inflation, its copies of events and
# requests and its log sink left out), and held to the same bound summed
# over the program's calls: perCall each, and per byte handed, inflated,
# sent and logged line, and per byte the module held when a session was
# torn down (fuzz/Cost.h says what each call was handed).
#
# --quick runs the zipped shapes at an eighth of their size (the bounds are
# per byte; perf/growth.sh shows the cost grows no faster than the bytes),
# and is what CI runs (about 30 s). Prints one line per shape and fails
# when a bound is exceeded. Needs valgrind; instruction counts depend only
# on the binary and its input, memory on the allocator too.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=no
programs=no
if [ "${1:-}" = --quick ]; then
    quick=yes
    shift
elif [ "${1:-}" = --programs ]; then
    programs=yes
    shift
fi
build="${1:?usage: perf/bound.sh [--quick] BUILD_DIR [SHAPE N [--zip]]... | --programs BUILD_DIR FILE...}"
shift
command -v valgrind >/dev/null || { echo "perf/bound.sh: needs valgrind (apt-get install valgrind)" >&2; exit 2; }

perPacketByte=500
perInflatedByte=16
ceiling=100000000
memPerByte=2
memBaseMiB=4
memCeilingMiB=32
# For programs: every call into the module, every byte of the requests it
# sends, every line it logs, every byte it held when a session was torn down.
perCall=30000
perSentByte=8
perLogLine=3000
perHeldByte=4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "$programs" = yes ]; then
    replay="$build/bin/fuzz_module_replay"
    [ -x "$replay" ] || { echo "perf/bound.sh: no $replay" >&2; exit 2; }
    files=()
    for arg in "$@"; do
        if [ -d "$arg" ]; then files+=("$arg"/*); else files+=("$arg"); fi
    done
    [ ${#files[@]} -gt 0 ] || { echo "perf/bound.sh: --programs needs files or folders of programs" >&2; exit 2; }
    failed=0
    printf '%-32s %6s %9s %9s %8s %6s %9s %12s %8s  %s\n' program calls handed inflated sent lines held instructions "of bound" verdict
    for file in "${files[@]}"; do
        # What each call was handed and produced, as the replay tells it; a
        # byte held is freed once, however many calls tear sessions down.
        FUZZ_COST_LOG=1 "$replay" "$file" >/dev/null 2>"$work/calls" ||
            { echo "perf/bound.sh: $replay $file failed:" >&2; tail -5 "$work/calls" >&2; exit 2; }
        read -r calls handed inflated sent lines held < <(sed -nE \
            's/^fuzz: .*\(([0-9]+) bytes handed, ([0-9]+) inflated, ([0-9]+) sent, ([0-9]+) log lines, ([0-9]+) held\)$/\1 \2 \3 \4 \5/p' \
            "$work/calls" | awk '{ c++; h += $1; i += $2; s += $3; l += $4; if ($5 > d) d = $5 } END { print c + 0, h + 0, i + 0, s + 0, l + 0, d + 0 }')
        valgrind --tool=callgrind --callgrind-out-file="$work/out" --collect-atstart=no \
            --toggle-collect=sapp_fuzz_module_call --toggle-collect='ProtoHelper::UnZipString(*' \
            --toggle-collect='standin::Session::postAppEvent(*' --toggle-collect='standin::Session::sendRequest(*' \
            --toggle-collect='LogExport::write(*' --toggle-collect='DoLog2(*' \
            "$replay" "$file" >/dev/null 2>"$work/valgrind.log" || { cat "$work/valgrind.log" >&2; exit 2; }
        count=$(awk '/^(summary|totals):/ { print $2; exit }' "$work/out")
        bound=$(awk -v c="$calls" -v h="$handed" -v i="$inflated" -v s="$sent" -v l="$lines" -v d="$held" \
            -v pc="$perCall" -v pb="$perPacketByte" -v ib="$perInflatedByte" -v sb="$perSentByte" -v lb="$perLogLine" \
            -v db="$perHeldByte" 'BEGIN { printf "%.0f", pc * c + pb * h + ib * i + sb * s + lb * l + db * d }')
        verdict=ok
        if [ "$count" -gt "$bound" ]; then
            verdict="FAILS: over $perCall instructions a call, $perPacketByte a byte handed, $perInflatedByte an inflated one, $perSentByte a byte sent, $perLogLine a line logged and $perHeldByte a byte held"
            failed=1
        fi
        printf '%-32s %6s %9s %9s %8s %6s %9s %12s %7.0f%%  %s\n' "$(basename "$file")" "$calls" "$handed" "$inflated" \
            "$sent" "$lines" "$held" "$count" "$(awk -v c="$count" -v b="$bound" 'BEGIN { print 100 * c / b }')" "$verdict"
    done
    exit $failed
fi

bin="$build/bin/sapp_worst_case"
[ -x "$bin" ] || { echo "perf/bound.sh: no $bin" >&2; exit 2; }

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
