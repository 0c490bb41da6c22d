// The cost guard of fuzz_module and fuzz_cost: each call into the module
// is held to a limit on its work, set by what the call was handed and what
// it produced.
//
// The module of the fuzz build counts its work in edges of its own code
// (support/WorkCount.cc): a count that is the same on every run of an input
// however loaded the machine is, where a time is not (an input that costs
// 89 M instructions was once timed at 487 ms under load, over the old
// 300 ms limit, and passed twice after). The limit is linear:
//
//   kLimit.perCall + perInputByte x the bytes the host handed the call (a
//   packet's body, a request's data) + perInflatedByte x the bytes the host
//   inflated for it + perSentByte x the body bytes of the requests it sent +
//   perLogLine x the lines it logged + perHeldByte x, for a call that tears
//   a session down, everything handed and inflated before it
//
// which is the module's bound per byte (docs/robustness.md, "Limits") in
// the fuzz build's units. A call over it aborts the run like a crash: a
// cost finding. Other builds count nothing and judge nothing.
//
// fuzz_cost (SAPP_FUZZ_COST) also hands libFuzzer each call's share of its
// limit as a feature, per kind of call in steps of 1/32, so that an input
// that makes some call costlier than any before is kept and mutated
// further: a search for cost per byte, not only for new code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sappfuzz {

// What one call into the module was handed and produced, and its work.
struct CallCost {
    uint64_t work = 0;      // edges of the module's code it took
    uint64_t input = 0;     // bytes the host handed it: a packet's body, a request's data
    uint64_t inflated = 0;  // bytes the host inflated for it
    uint64_t sent = 0;      // body bytes of the requests it sent
    uint64_t logLines = 0;  // lines it logged
    // For a call that tears a session down: the bytes the host has handed
    // the module and inflated for it so far, which bound what it keeps.
    uint64_t held = 0;

    CallCost& operator-=(const CallCost& earlier) {
        work -= earlier.work;
        input -= earlier.input;
        inflated -= earlier.inflated;
        sent -= earlier.sent;
        logLines -= earlier.logLines;
        return *this;
    }
};

struct Limit {
    double perCall;
    double perInputByte;
    double perInflatedByte;
    double perSentByte;
    double perLogLine;
    double perHeldByte;
};

// In edges of the module's code, as the fuzz build (Clang, -O1, the
// sanitizers) counts them. docs/robustness.md says how the figures were
// chosen and what the worst-case shapes and the search reach of them.
inline constexpr Limit kLimit{60000, 40, 24, 16, 400, 8};

inline double limitOf(const CallCost& c) {
    return kLimit.perCall + kLimit.perInputByte * static_cast<double>(c.input) +
           kLimit.perInflatedByte * static_cast<double>(c.inflated) + kLimit.perSentByte * static_cast<double>(c.sent) +
           kLimit.perLogLine * static_cast<double>(c.logLines) + kLimit.perHeldByte * static_cast<double>(c.held);
}

// Which call: the module's entry points, session events and task runs, and
// packets by their URI (kUris' order, from FirstPacket on).
enum class CallKind : uint8_t { Open, Request, Event, Task, Leave, Release, FirstPacket };
CallKind packetKind(uint32_t uri);

// The module's work so far, in edges; 0 in a build that does not count it.
uint64_t workCount();

// Judges one call (see above). The costliest call of the run, by its share
// of the limit, is told when the process ends; with FUZZ_COST_LOG set in the
// environment, every call is, on standard error, as it is judged (in every
// build: where nothing is counted, with no work, for what it was handed).
void judge(CallKind kind, const CallCost& cost);

// The input being played, for FUZZ_COST_KEEP: with it set to a folder, the
// inputs whose large calls took the largest shares of their limits are
// written there when the process ends.
void beginInput(const uint8_t* data, std::size_t size);
void endInput();

}  // namespace sappfuzz
