#!/usr/bin/env bash
# Measures the module's instructions per app-platform message with callgrind.
#
#   perf/measure.sh [BUILD_DIR]      (default build/release)
#
# For each message kind of perf/data-messages.sh it plays two scenarios of
# different length through BUILD_DIR/bin/sapp-host under callgrind and divides
# the difference by the difference in messages, so the session's setup and
# teardown cancel out. Collection is on only inside the module's entry points
# SAppModule::onPacket and onRequest, and off again inside the stand-in
# session's recording (standin::Session::record, which feeds sapp-host's
# trace). Two figures per kind:
#   self       instructions executed in libsapp.so's own code
#   inclusive  everything onPacket and onRequest executed, with the C and C++
#              runtime calls and the stand-in host's packet and send
#              plumbing, but without the recording and the trace
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/release}"
host="$build/bin/sapp-host"
[ -x "$host" ] || { echo "perf/measure.sh: no $host (cmake --build --preset release)" >&2; exit 2; }
short=500
long=2500
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "self inclusive" for one scenario.
measure() {
    local scenario=$1 out="$work/callgrind.out"
    valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
        --toggle-collect='SAppModule::onPacket(*' --toggle-collect='SAppModule::onRequest(*' \
        --toggle-collect='standin::Session::record(*' \
        "$host" run "$scenario" --json >/dev/null 2>"$work/valgrind.log"
    callgrind_annotate --threshold=100 "$out" | tr -d , |
        awk '/\[.*libsapp\.so\]$/ { self += $1 } END { printf "%d ", self }'
    callgrind_annotate --threshold=100 --inclusive=yes "$out" | tr -d , |
        awk 'index($0, ":SAppModule::onPacket(") || index($0, ":SAppModule::onRequest(") { inclusive += $1 }
             END { printf "%d\n", inclusive }'
}

printf '%-8s %10s %10s   (instructions per message, %s)\n' kind self inclusive "$build"
for kind in v3down v2down v2up v3up; do
    perf/data-messages.sh "$short" "$kind" >"$work/short.json"
    perf/data-messages.sh "$long" "$kind" >"$work/long.json"
    read -r selfShort inclShort < <(measure "$work/short.json")
    read -r selfLong inclLong < <(measure "$work/long.json")
    messages=$((long - short))
    awk -v k="$kind" -v s=$((selfLong - selfShort)) -v i=$((inclLong - inclShort)) -v n="$messages" \
        'BEGIN { printf "%-8s %10.1f %10.1f\n", k, s / n, i / n }'
done
