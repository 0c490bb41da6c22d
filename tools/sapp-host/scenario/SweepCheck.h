// The checks of one fault-sweep run (Sweep.h) against the run without a
// fault, apart from playing the scenario: what each step did is data here,
// so tests can hand the checks runs that a module would rarely produce.
//
// Which exception must leave a call into the module follows
// docs/integration.md ("When a host call throws"): a log sink call's is
// dropped; any other host call's leaves, unchanged, unless the call into
// the module had met an exception before it (a teardown goes on after a
// failed step, a failed build undoes its watcher registration), and then
// the first one leaves and later ones are dropped. So in every step the
// sweep compares what left with the first exception a host call threw in
// it, its own fault or one the scenario sets up (a `fault` step, a channel
// database set to throw), as the stand-ins report them. An exception the
// module raises itself (a record that does not decode, a message too long
// to pack) is one the scenario expects: a step may end in it only where
// the step threw it without the sweep's fault. Such an exception is taken
// to leave at once: no part of the module catches one and goes on calling
// the host (only teardown does, for the host's own exceptions); were that to
// change, these checks would report the runs where it shows, not pass them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "standin/tarnbase/HostFaults.h"

namespace sapphost {

// An exception a host call other than the log sink's threw.
struct RaisedError {
    standin::HostCall call{};
    std::string error;      // "type: what", as the trace's error line names it
    bool injected = false;  // the sweep's own fault, not one the scenario sets up

    bool operator==(const RaisedError&) const = default;
};

// An exception that left a call into the module.
struct LeftError {
    std::string error;             // "type: what"
    std::size_t raisedBefore = 0;  // how many of the step's RaisedErrors came before it

    bool operator==(const LeftError&) const = default;
};

// What one step of a run did.
struct StepRecord {
    std::vector<standin::HostCall> calls;  // every host call, in order
    std::vector<std::string> logs;         // the text of each line written
    std::vector<LeftError> errors;         // each exception that left the module
    std::vector<RaisedError> raised;       // each exception a host call (not the log sink's) threw

    bool operator==(const StepRecord&) const = default;
};

struct RunRecord {
    std::vector<StepRecord> steps;  // the scenario's steps, then the closing
    std::optional<standin::HostCall> failed;
    std::vector<std::string> problems;  // what the run left, or did, that it must not
};

// How the step with the fault ended.
enum class FaultOutcome {
    PassedOn,          // the fault left it: a step that throws nothing without the fault
    InPlaceOfOwn,      // the fault left it, not the exception the step throws without the fault
    OwnError,          // the step's own exception came first and left; the fault was dropped
    LineDropped,       // a log call's fault: the line was lost, nothing left
    LineDroppedOwn,    // a log call's fault: the line was lost, the step ended in its own exception
};
inline constexpr std::size_t kFaultOutcomes = 5;

struct RunVerdict {
    std::vector<std::string> problems;  // empty: the run passed
    FaultOutcome outcome = FaultOutcome::PassedOn;
};

// The texts of the exceptions that left a step; "nothing" when none did.
std::string errorList(const StepRecord& step);

// Whether the module's lines say the run destroyed it: its destruction after
// the last getModule, if there was one.
bool moduleDestroyed(const RunRecord& run);

// Checks the run with call `k` of step `i` failing against the baseline
// `base`: the failed call is the one the baseline made there, the steps
// before `i` did what they did then, the exception that left each step
// from `i` on is the one above (for a log call's fault: the steps from `i`
// did what they did then, but for the one line and the sink's calls), and
// the module was destroyed where the baseline destroyed it.
RunVerdict checkRun(const RunRecord& base, const RunRecord& run, std::size_t i, std::size_t k);

}  // namespace sapphost
