#!/usr/bin/env bash
# The module's cost for constructed worst-case packets, on the release build:
# the figures of the limits table in docs/robustness.md.
#
#   perf/worst-case.sh [BUILD_DIR]      (default build/release)
#
# Each kind runs at two sizes, so that the cost per byte shows (linear
# kinds: about 1 and 4 MiB of packet); the quadratic kind at three.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/release}/bin/sapp_worst_case"
[ -x "$bin" ] || { echo "perf/worst-case.sh: no $bin (cmake --build --preset release)" >&2; exit 2; }

run() { "$bin" "$@"; }
# About 1 MiB and 4 MiB of packet.
run add-ids 262144;        run add-ids 1048576
run add-idset 262144;      run add-idset 1048576
run add-packs 28000;       run add-packs 112000
run add-sidapps 262144;    run add-sidapps 1048576
run add-sidapps 1048570 --zip
run add-sidapps 4194300 --zip --limit 16777216
# 65 KB inflating to 16.7 M ids (64 MiB): refused by the default limit; what it costs without one.
run add-sidapps 16777214 --zip
run add-sidapps 16777214 --zip --limit 4294967295
run del-ids 262144;        run del-ids 1048576
run v2-versions 65536;     run v2-versions 262144
run v2-idlist 262144;      run v2-idlist 1048576
run v3-proxies 131072 --request;  run v3-proxies 524288 --request
run v3-data 1048576;       run v3-data 4194304
run announce 1048576;      run announce 4194304
# One pack with N proxies listed N times: N*N proxy insertions.
run add-quadratic 1000;    run add-quadratic 2000;    run add-quadratic 4000
run add-quadratic 4000 --zip
