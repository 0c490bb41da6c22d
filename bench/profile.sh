#!/usr/bin/env bash
# Where the module's instructions per message go, counted by callgrind on
# sapp-bench as bench/callgrind.sh counts them (inside onPacket/onRequest,
# the host's postAppEvent and sendRequest left out, two runs of different
# lengths so that set-up cancels out).
#
#   bench/profile.sh [BUILD_DIR] [BENCHMARK...]   (default build/bench, the five budgeted
#                                                   benchmarks, the app list's floor and its decode)
#
# Prints, per benchmark, one line per part, per message (per app for
# BM_AppList/N, BM_AppListEvent/N and BM_AppListDecode/N):
#   NAME module    INSTRUCTIONS   libsapp.so's own code
#   NAME alloc     INSTRUCTIONS   malloc, free, operator new and delete
#   NAME copy      INSTRUCTIONS   memcpy, memmove, memset
#   NAME host      INSTRUCTIONS   the host's calls the module makes (packet,
#                                 session, log sink: sapp-bench, libpktcore, libtarnbase)
#   NAME other     INSTRUCTIONS   the rest (the C++ runtime's tree and string helpers)
#   NAME top       INSTRUCTIONS FUNCTION   the module's five costliest functions
# The bench host's count of allocations (bench/AllocationCount.h) is left
# out, as in bench/callgrind.sh. BM_AppListEvent/N, the app list's floor,
# and BM_AppListDecode/N, its decode alone, are counted inside the bench
# host's buildAppListEvent and decodeAppList, whose own code (the decode is
# the module's own records, compiled into sapp-bench) is their *module* part.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/callgrind-run.sh
source bench/callgrind-run.sh

build="${1:-build/bench}"
[ $# -gt 0 ] && shift
bench="$build/bin/sapp-bench"
[ -x "$bench" ] || { echo "bench/profile.sh: no $bench (cmake --build --preset bench --target sapp-bench)" >&2; exit 2; }
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(BM_DownlinkV3Data BM_DownlinkV2Data BM_UplinkV3 BM_UplinkV2/8 BM_AppList/1000 BM_AppListEvent/1000 BM_AppListDecode/1000)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Writes "INSTRUCTIONS<TAB>FUNCTION [OBJECT]" per function for NAME run ITERATIONS times.
functions() {
    local name=$1 iterations=$2 out="$work/callgrind.out"
    callgrind_run "$bench" "$name" "$iterations" "$work" || exit 1
    callgrind_annotate --threshold=100 "$out" 2>/dev/null | sed -n '/file:function/,/^$/p' |
        sed -En 's/^ *([0-9,]+) +\( *[0-9.]+%\) +/\1\t/p' | tr -d , | sort -t "$(printf '\t')" -k2
}

for name in "${names[@]}"; do
    case "$name" in
    BM_AppList*/*) short=2 long=4 per=$((2 * ${name#*/})) ;;
    *) short=1000 long=3000 per=2000 ;;
    esac
    functions "$name" "$short" >"$work/short"
    functions "$name" "$long" >"$work/long"
    # Per function, the difference between the runs, per message.
    join -t "$(printf '\t')" -1 2 -2 2 -a 2 -e 0 -o 0,1.1,2.1 "$work/short" "$work/long" |
        awk -F '\t' -v n="$name" -v m="$per" '
        {
            d = ($3 - $2) / m
            f = $1
            if (f ~ /:(malloc|calloc|realloc) \[.*\/sapp-bench\]$/) next      # the bench host counting
            if (f ~ /\[.*libsapp\.so\]$/ || (n ~ /^BM_AppList(Event|Decode)\// && f ~ /\[.*\/sapp-bench\]$/)) { part["module"] += d; top[f] = d }
            else if (f ~ /malloc|free|operator new|operator delete|alloc_perturb|arena\.c|systrim|unlink_chunk/) part["alloc"] += d
            else if (f ~ /mem(cpy|move|set)/) part["copy"] += d
            else if (f ~ /\[.*(sapp-bench|libpktcore|libtarnbase)[^]]*\]$/) part["host"] += d
            else part["other"] += d
        }
        END {
            split("module alloc copy host other", order, " ")
            for (i = 1; i <= 5; i++) printf "%s %s %.1f\n", n, order[i], part[order[i]]
            shown = 0
            while (shown < 5) {
                best = ""; b = 0
                for (f in top) if (top[f] > b) { b = top[f]; best = f }
                if (best == "" || b < 1) break
                # The function without its file, object, arguments and template arguments.
                fn = best; sub(/ \[[^]]*\]$/, "", fn); sub(/^[^:]*:/, "", fn)
                while (gsub(/<[^<>]*>/, "#", fn) > 0) {}
                gsub(/#/, "<>", fn); sub(/\(.*$/, "", fn)
                printf "%s top %.1f %s\n", n, b, fn
                delete top[best]; shown++
            }
        }'
done
