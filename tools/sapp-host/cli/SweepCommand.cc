// sweep: the fault sweep of each scenario in a process of its own, then the
// module's load with each of its host calls failing, each in a process of
// its own (Sweep.h). The hidden modes below are those processes.
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/platform/Process.h"
#include "tools/sapp-host/report/Junit.h"
#include "tools/sapp-host/scenario/Scenario.h"
#include "tools/sapp-host/scenario/StepTag.h"
#include "tools/sapp-host/scenario/Sweep.h"

namespace sapphost {

SweepRelay relaySweepProcess(const ChildResult& child, const std::string& what, bool runs, std::ostream& out) {
    std::istringstream lines(child.output);
    std::string lastRun;
    SweepRelay relayed;
    for (std::string line; std::getline(lines, line);) {
        // A Windows child writes its lines in text mode, ending in "\r\n".
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(kSweepRunTag, 0) == 0) {
            lastRun = line.substr(kSweepRunTag.size());
        } else if (line == kSweepCleanTag) {
            relayed.clean = true;
        } else if (line.rfind(kStepTag, 0) != 0) {
            out << line << "\n";
        }
    }
    if (!child.timedOut && child.exited &&
        (child.code == kExitOk || child.code == kExitFailed || child.code == kExitBadInput)) {
        if (child.code == kExitBadInput) out << "BAD    " << what << "\n";
        relayed.status = child.code;
        return relayed;
    }
    const std::optional<StepAt> step = lastStep(child.output);
    const std::string where = step ? "at " + step->text() : "before its first step";
    const std::string during = !lastRun.empty() ? " during the run of " + lastRun
                               : runs           ? " before its first run with a fault"
                                                : "";
    if (child.timedOut) {
        out << "TIMEOUT " << where << "  " << what << ": a play of the scenario had not ended after "
            << child.limitSeconds << " s and the process was stopped (--timeout)" << during << "\n";
    } else {
        out << "CRASH " << where << "  " << what << ": the process ended with " << child.describe() << during << "\n";
    }
    relayed.status = kExitFailed;
    return relayed;
}

namespace {

// The worse of two exit statuses: bad input, then a failure.
int worse(int a, int b) {
    if (a == kExitBadInput || b == kExitBadInput) return kExitBadInput;
    return a == kExitFailed || b == kExitFailed ? kExitFailed : kExitOk;
}

std::vector<std::string> scenarioArgs(const Options& options, std::size_t first) {
    return {options.args.begin() + static_cast<std::ptrdiff_t>(first), options.args.end()};
}

// The two sweeps of a scenario: with the host's log settings as it gives
// them, and with no log sink from the start, where every line goes through
// GetLogInstance, IsLogLevelEnabled and DoLog2 instead of the sink.
constexpr const char* kAsGiven = "as-given";
constexpr const char* kWithoutSink = "no-sink";
// The same, baseline only: the host functions it called (--calls).
constexpr const char* kAsGivenCalls = "as-given-calls";
constexpr const char* kWithoutSinkCalls = "no-sink-calls";

// --calls: the host functions the scenarios' baselines and the load
// called, each once, in order.
int listCalls(const std::string& self, const std::string& path, const std::vector<std::string>& files,
              const std::vector<standin::HostCall>& loadCalls, const ChildLimit& limit) {
    std::set<std::string> functions;
    for (const standin::HostCall call : loadCalls) functions.insert(standin::hostCallFunction(call));
    for (const std::string& file : files) {
        for (const char* variant : {kAsGivenCalls, kWithoutSinkCalls}) {
            std::vector<std::string> args{std::string(kSweepOneCommand.name), "--module", path, variant};
            if (!file.empty()) args.push_back(file);
            const ChildResult child = runChild(self, args, {}, limit);
            if (!child.exited || child.code != kExitOk) {
                throw std::runtime_error("the sweep's process for " + (file.empty() ? "the built-in session" : file) +
                                         " ended with " + child.describe());
            }
            std::istringstream lines(child.output);
            for (std::string line; std::getline(lines, line);) {
                if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows child's text mode
                if (line.rfind(kSweepCallTag, 0) == 0) functions.insert(line.substr(kSweepCallTag.size()));
            }
        }
    }
    for (const std::string& function : functions) std::cout << function << "\n";
    return kExitOk;
}

// What a scenario's own play, without a fault, says of the sweeps that
// follow: nothing when its checks pass; else a line that tells the
// scenario's own failure from any fault's outcome, and the exit status it
// costs (1, or 2 for a scenario that cannot be played, as for run).
int ownChecks(const ScenarioOutcome& own, const std::string& what) {
    if (own.result == "pass") return kExitOk;
    if (own.result == "fail") {
        const std::size_t n = own.details.size();
        std::cout << "FAIL   " << what << ": the scenario's own checks fail, without any fault (" << n
                  << (n == 1 ? " failed check" : " failed checks")
                  << "; sapp-host run shows them); the runs below judge the faults only\n";
        return kExitFailed;
    }
    const std::string& detail = own.details.empty() ? own.result : own.details.front();
    if (own.result == "bad") {
        std::cout << "BAD    " << what << ": without a fault: " << detail << "\n";
        return kExitBadInput;
    }
    std::cout << detail.substr(0, detail.find(": ")) << "  " << what << ": without a fault"
              << detail.substr(detail.find(": ")) << "\n";
    return kExitFailed;
}

int sweepCommand(const Options& options) {
    {
        const std::string self = selfExecutablePath();
        if (self.empty()) throw std::runtime_error("cannot tell where this executable is, to start the sweeps");
        const std::string path = modulePathOf(options);
        // Every scenario must parse before anything runs.
        std::vector<std::string> files = scenarioFiles(options.args);
        for (const std::string& file : files) loadScenario(file);
        ModuleLibrary module;
        const std::vector<standin::HostCall> loadCalls = loadWithWatch(path, module);
        if (files.empty()) files.emplace_back();  // the built-in typical session
        // Each run of a scenario's sweep has the time limit to itself.
        const uint64_t timeout = options.number("--timeout");
        const ChildLimit limit{timeout, std::string(kSweepRunTag)};
        if (options.has("--calls")) return listCalls(self, path, files, loadCalls, limit);

        int status = kExitOk;
        std::size_t ownFailures = 0;
        std::optional<std::string> cleanFile;
        for (const std::string& file : files) {
            const std::string name = file.empty() ? std::string("the built-in session") : file;
            // The scenario as run plays it: its own checks, told apart from
            // what the faults do.
            const ScenarioOutcome outcome = playScenarioInChild(self, path, file, timeout);
            const int own = ownChecks(outcome, name);
            if (own != kExitOk) ++ownFailures;
            status = worse(status, own);
            // A play that did not end would not end in the sweep either.
            if (outcome.result == "crash" || outcome.result == "timeout") {
                std::cout << "sweep: " << name << " is not swept\n";
                continue;
            }
            for (const char* variant : {kAsGiven, kWithoutSink}) {
                std::vector<std::string> args{std::string(kSweepOneCommand.name), "--module", path, variant};
                if (!file.empty()) args.push_back(file);
                const std::string what = name + (variant == kWithoutSink ? ", without a log sink" : "");
                const SweepRelay relayed = relaySweepProcess(runChild(self, args, {}, limit), what, true, std::cout);
                status = worse(status, relayed.status);
                if (relayed.clean && !cleanFile) cleanFile = file;
            }
        }
        if (status == kExitBadInput) return status;
        // The load's runs play the first scenario that throws nothing
        // without a fault (an exception would hide what a faulty load left),
        // or the built-in session when none of them is such.
        const std::string loadFile = cleanFile.value_or("");
        std::cout << "sweep: loading the module makes " << loadCalls.size() << " host calls; "
                  << (loadFile.empty() ? std::string("the built-in session") : loadFile)
                  << " is played after each load\n";
        for (std::size_t call = 0; call < loadCalls.size(); ++call) {
            std::vector<std::string> args{std::string(kSweepLoadCommand.name), "--module", path, std::to_string(call),
                                          std::to_string(loadCalls.size())};
            if (!loadFile.empty()) args.push_back(loadFile);
            const std::string what = "load, call " + std::to_string(call + 1);
            status = worse(status, relaySweepProcess(runChild(self, args, {}, limit), what, false, std::cout).status);
        }
        if (status == kExitOk) {
            std::cout << "sweep: passed\n";
        } else if (ownFailures) {
            std::cout << "sweep: FAILED (" << ownFailures << (ownFailures == 1 ? " scenario fails" : " scenarios fail")
                      << " without any fault, see above)\n";
        } else {
            std::cout << "sweep: FAILED\n";
        }
        return status;
    }
}

int sweepOneCommand(const Options& options) {
    prepareChildProcess();
    {
        Options rest = options;
        rest.args = scenarioArgs(options, 1);
        Scenario scenario = scenarioArgument(rest);
        const std::string& variant = options.args.at(0);
        if (variant == kWithoutSink || variant == kWithoutSinkCalls) {
            scenario.host.logSink = false;
            scenario.name += ", without a log sink";
        }
        const SweepMode mode =
            variant == kAsGivenCalls || variant == kWithoutSinkCalls ? SweepMode::CallsOnly : SweepMode::Runs;
        const ModuleLibrary module = loadModule(modulePathOf(options));
        return sweepScenario(module, scenario, std::cout, mode) ? kExitOk : kExitFailed;
    }
}

int sweepLoadCommand(const Options& options) {
    prepareChildProcess();
    {
        const std::size_t call = std::stoul(options.args.at(0));
        const std::size_t calls = std::stoul(options.args.at(1));
        Options rest = options;
        rest.args = scenarioArgs(options, 2);
        const Scenario scenario = scenarioArgument(rest);
        return sweepLoadCall(modulePathOf(options), call, calls, scenario, std::cout) ? kExitOk : kExitFailed;
    }
}

void anyScenarios(const Options&) {}
void variantAndScenario(const Options& options) {
    requireArguments(options, 1, 2, "the sweep's variant and at most one scenario file expected");
}
void loadCallAndScenario(const Options& options) {
    requireArguments(options, 2, 3, "the call's number, the count of calls and at most one scenario file expected");
}

}  // namespace

const Command kSweepCommand = {
    "sweep",
    "[FILE|DIR...]",
    "make every host call of a scenario fail, one run each, and check what the module does",
    R"(Plays each scenario (each *.json file of a DIR, in name order; the built-in
typical session without FILE) once without a fault and notes every host call
each step makes: a step is one entry point (getModule, releaseModule,
onPacket, onRequest, onLeave, a session event, a task run). Then, for every
step and every host call it made, plays the scenario again with that one
call throwing, through to the end, and lets go of whatever the module still
holds. Every scenario is swept twice: with the log sink as it gives it, and
without a sink (every line then goes through GetLogInstance,
IsLogLevelEnabled and DoLog2). Each run is checked: a log sink call's fault
costs its line and nothing else; any other call's fault leaves the entry
point as the host's exception, unless the step met an exception of its own
first (then that one leaves); no later step throws but what the scenario
makes it throw; at the end no watcher, task or database reference is left,
the module is destroyed, no host call was made while an exception unwound
(Linux), and, in a LeakSanitizer build, nothing leaked. Last, the module is
loaded with each host call of its load failing, and the first scenario that
throws nothing without a fault played after it.

A scenario may expect exceptions (a record that does not decode, its own
fault steps): a run of a step that throws without a fault ends in the fault
or in that exception, whichever the step met first, and the report says
which, for each pair and each such step.

Before its sweeps each scenario is played once as run plays it: a scenario
whose own checks fail is reported as such (FAIL ... without any fault),
apart from what the faults do.

Each scenario's sweep and each load runs in a process of its own; a process
that crashes is reported as CRASH at step N (action) with the run it was
in, and one whose run has not ended after --timeout seconds (60 by default,
each run of the scenario timed on its own) is stopped and reported as
TIMEOUT at step N (action). Prints every pair of entry point and host call
with its runs ("thrown back to the host": the fault left the entry point to
the host's call), and each failed check.
)",
    R"(Exit status: 0 every run passed, 1 a run failed, a scenario's own checks
failed, or a process crashed or ran out of time, 2 bad scenario or no module.
)",
    anyScenarios,
    sweepCommand,
};

// The hidden modes sweep starts: one scenario's sweep, and the load with one
// of its host calls failing.
const Command kSweepOneCommand = {"__sweep-one", "VARIANT [FILE]", {}, {}, {}, variantAndScenario, sweepOneCommand};
const Command kSweepLoadCommand = {"__sweep-load", "CALL CALLS [FILE]", {}, {}, {}, loadCallAndScenario,
                                   sweepLoadCommand};

}  // namespace sapphost
