// The checks of one fault-sweep run (SweepCheck.h).
#include "tools/sapp-host/scenario/SweepCheck.h"

#include <algorithm>
#include <iterator>

namespace sapphost {

namespace {

using standin::HostCall;

// Every getModule logs the first line, and the singleton's destruction ends
// with the second.
constexpr const char* kGetModuleLine = "[sapp] SAppModule::getInstance";
constexpr const char* kModuleGoneLine = "[sapp] SAppModule::~VideoModule, exit";

std::vector<HostCall> withoutLogCalls(const std::vector<HostCall>& calls) {
    std::vector<HostCall> kept;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(kept),
                 [](HostCall call) { return !standin::isLogCall(call); });
    return kept;
}

// Whether `run` is `base` with one element left out.
bool oneLost(const std::vector<std::string>& base, const std::vector<std::string>& run) {
    if (run.size() + 1 != base.size()) return false;
    const auto at = std::mismatch(run.begin(), run.end(), base.begin()).first - run.begin();
    return std::equal(run.begin() + at, run.end(), base.begin() + at + 1);
}

// The exceptions the module raised itself in a step: those that left it
// with no host call's exception since the one before.
std::vector<std::string> ownErrors(const StepRecord& step) {
    std::vector<std::string> own;
    std::size_t from = 0;
    for (const LeftError& left : step.errors) {
        if (left.raisedBefore == from) own.push_back(left.error);
        from = left.raisedBefore;
    }
    return own;
}

// Checks which exceptions left step `s` of a run: each is the first one a
// host call threw since the one that left before it, or, where no host call
// threw, one the module raised itself in this step of the baseline too. A
// host call's exception after the last one that left was kept by the
// module, which it must not do.
void checkLeaving(const StepRecord& step, const StepRecord& baseStep, std::size_t s,
                  std::vector<std::string>& problems) {
    const std::string name = "step " + std::to_string(s);
    const std::vector<std::string> expected = ownErrors(baseStep);
    std::size_t from = 0;
    for (const LeftError& left : step.errors) {
        const std::size_t upTo = std::min(left.raisedBefore, step.raised.size());
        if (from < upTo) {
            const RaisedError& first = step.raised[from];
            if (left.error != first.error) {
                problems.push_back(first.injected ? name + " did not pass the HostFault on: it threw " + left.error
                                                  : name + " met " + first.error + " first, but " + left.error +
                                                        " left it");
            }
        } else if (std::find(expected.begin(), expected.end(), left.error) == expected.end()) {
            problems.push_back(name + " threw " + left.error + ", which it does not throw without the fault");
        }
        from = std::max(from, upTo);
    }
    if (from < step.raised.size()) {
        const RaisedError& kept = step.raised[from];
        problems.push_back(kept.injected ? name + " did not pass the HostFault on: it threw nothing"
                                         : name + " kept " + kept.error + " of " + standin::hostCallName(kept.call) +
                                               ": nothing left it");
    }
}

// How step `i` ended, where the sweep's fault was not a log call's.
FaultOutcome outcomeOf(const StepRecord& step, const StepRecord& baseStep) {
    const auto injected = std::find_if(step.raised.begin(), step.raised.end(),
                                       [](const RaisedError& raised) { return raised.injected; });
    const auto at = static_cast<std::size_t>(injected - step.raised.begin());
    std::size_t from = 0;
    for (const LeftError& left : step.errors) {
        if (at < left.raisedBefore) {
            if (at != from) return FaultOutcome::OwnError;
            break;
        }
        from = left.raisedBefore;
    }
    return baseStep.errors.empty() ? FaultOutcome::PassedOn : FaultOutcome::InPlaceOfOwn;
}

}  // namespace

std::string errorList(const StepRecord& step) {
    if (step.errors.empty()) return "nothing";
    std::string out;
    for (const LeftError& left : step.errors) out += (out.empty() ? "" : "; ") + left.error;
    return out;
}

bool moduleDestroyed(const RunRecord& run) {
    for (auto step = run.steps.rbegin(); step != run.steps.rend(); ++step) {
        for (auto log = step->logs.rbegin(); log != step->logs.rend(); ++log) {
            if (*log == kModuleGoneLine) return true;
            if (*log == kGetModuleLine) return false;
        }
    }
    return true;
}

RunVerdict checkRun(const RunRecord& base, const RunRecord& run, std::size_t i, std::size_t k) {
    RunVerdict verdict;
    std::vector<std::string>& problems = verdict.problems;
    problems = run.problems;
    const HostCall expected = base.steps[i].calls[k];
    if (!run.failed) {
        problems.push_back("the call was not made: the module's calls differ from run to run");
        return verdict;
    }
    if (*run.failed != expected) {
        problems.push_back(std::string("the module made ") + standin::hostCallName(*run.failed) + " there, not " +
                           standin::hostCallName(expected));
        return verdict;
    }
    for (std::size_t s = 0; s < i; ++s) {
        if (run.steps[s] != base.steps[s]) problems.push_back("step " + std::to_string(s) + " differs from the baseline");
    }
    const std::size_t steps = std::min(run.steps.size(), base.steps.size());
    if (standin::isLogCall(expected)) {
        verdict.outcome = base.steps[i].errors.empty() ? FaultOutcome::LineDropped : FaultOutcome::LineDroppedOwn;
        for (std::size_t s = i; s < steps; ++s) {
            const std::string step = "step " + std::to_string(s);
            if (withoutLogCalls(run.steps[s].calls) != withoutLogCalls(base.steps[s].calls)) {
                problems.push_back(step + " made other host calls than the baseline");
            }
            if (run.steps[s].errors != base.steps[s].errors || run.steps[s].raised != base.steps[s].raised) {
                problems.push_back(step + " threw: " + errorList(run.steps[s]) + "; without the fault: " +
                                   errorList(base.steps[s]));
            }
            // The line may have been one the host's level check keeps out.
            const bool logsAsExpected = run.steps[s].logs == base.steps[s].logs ||
                                        (s == i && oneLost(base.steps[s].logs, run.steps[s].logs));
            if (!logsAsExpected) {
                problems.push_back(step + (s == i ? " lost more than the one line" : " logged other lines"));
            }
        }
        return verdict;
    }
    verdict.outcome = outcomeOf(run.steps[i], base.steps[i]);
    for (std::size_t s = i; s < steps; ++s) checkLeaving(run.steps[s], base.steps[s], s, problems);
    // (Where the scenario's host keeps the lines out, they cannot tell.)
    if (moduleDestroyed(base) && !moduleDestroyed(run)) problems.push_back("the module was not destroyed at the end");
    return verdict;
}

}  // namespace sapphost
