# Sourced by bench/callgrind.sh and bench/profile.sh: how both count.
#
# callgrind_run BENCH NAME ITERATIONS WORK
#   runs benchmark NAME of sapp-bench BENCH for ITERATIONS iterations under
#   callgrind, counting only inside the module's entry points (onPacket,
#   onRequest) and the bench host's buildAppListEvent and decodeAppList
#   (the app list's floor and its decode alone: BM_AppListEvent,
#   BM_AppListDecode), and not inside the host's callbacks the bench
#   session answers (postAppEvent, sendRequest); writes WORK/callgrind.out and the
#   benchmark's output to WORK/bench.log, and fails, showing valgrind's
#   log, when the run fails.
callgrind_run() {
    local bench=$1 name=$2 iterations=$3 work=$4
    SAPP_BENCH_ITERATIONS=$iterations valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
        --collect-atstart=no \
        --toggle-collect='SAppModule::onPacket(*' --toggle-collect='SAppModule::onRequest(*' \
        --toggle-collect='sappbench::buildAppListEvent(*' --toggle-collect='sappbench::decodeAppList(*' \
        --toggle-collect='sappbench::DiscardSession::postAppEvent(*' \
        --toggle-collect='sappbench::DiscardSession::sendRequest(*' \
        "$bench" --benchmark_filter="^${name}/iterations:${iterations}\$" >"$work/bench.log" 2>"$work/valgrind.log" ||
        { cat "$work/valgrind.log" >&2; return 1; }
}
