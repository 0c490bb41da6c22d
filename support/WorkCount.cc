// The module's work, counted: compiled into the module of the fuzz build
// only (CMake option SAPP_WORK_COUNT), whose own code is compiled with
// -fsanitize-coverage=trace-pc-guard. Every edge of the module's control
// flow then calls __sanitizer_cov_trace_pc_guard, which the module defines
// here for itself, hidden, so that its calls bind to this definition and
// never to libFuzzer's; libFuzzer's own coverage of the module (its 8-bit
// counters) is a different instrumentation and goes on as before.
//
// The count is the number of edges the module's code has taken since the
// process started: the same for the same inputs however loaded the machine
// is, unlike a time. The host's code, the standard library's compiled
// functions (malloc, memcpy, a tree's rebalancing) and this file's are not
// counted; the standard library's templates instantiated in the module's
// code (a std::lower_bound, a std::sort) are. fuzz/FuzzModule.cc reads it
// through sappWorkCount, the one name this build exports beyond the
// module's own.
#include <cstdint>

namespace {

uint64_t s_edges = 0;

}  // namespace

extern "C" {

__attribute__((visibility("hidden"), no_sanitize("address", "undefined"))) void __sanitizer_cov_trace_pc_guard(
    uint32_t*) {
    ++s_edges;
}

// The guards are not used: every edge counts alike.
__attribute__((visibility("hidden"))) void __sanitizer_cov_trace_pc_guard_init(uint32_t*, uint32_t*) {}

__attribute__((visibility("default"))) uint64_t sappWorkCount() { return s_edges; }

}  // extern "C"
