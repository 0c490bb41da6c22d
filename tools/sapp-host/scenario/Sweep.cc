// The fault sweep (Sweep.h).
#include "tools/sapp-host/scenario/Sweep.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <optional>
#include <utility>
#include <variant>

#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinDatabase.h"
#include "tools/sapp-host/scenario/Runner.h"

#if defined(__SANITIZE_ADDRESS__)
#  define SAPP_HOST_LEAK_CHECK 1
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define SAPP_HOST_LEAK_CHECK 1
#  endif
#endif
#if defined(SAPP_HOST_LEAK_CHECK)
#  include <sanitizer/lsan_interface.h>
#endif

namespace sapphost {

namespace {

using standin::HostCall;

constexpr std::size_t kNoStep = static_cast<std::size_t>(-1);

// Every getModule logs the first line, and the singleton's destruction ends
// with the second.
constexpr const char* kGetModuleLine = "[sapp] SAppModule::getInstance";
constexpr const char* kModuleGoneLine = "[sapp] SAppModule::~VideoModule, exit";

// What one step of a run did.
struct StepRecord {
    std::vector<HostCall> calls;      // every host call, in order
    std::vector<std::string> logs;    // the text of each line written
    std::vector<std::string> errors;  // "type: what" of each exception that left the module

    bool operator==(const StepRecord&) const = default;
};

struct RunRecord {
    std::vector<StepRecord> steps;  // the scenario's steps, then the closing
    std::optional<HostCall> failed;
    std::vector<std::string> problems;  // what the run left, or did, that it must not
};

// Which call of which step fails.
struct Target {
    std::size_t step = 0;
    std::size_t call = 0;
};

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

std::string listOf(const std::vector<std::string>& texts) {
    if (texts.empty()) return "nothing";
    std::string out;
    for (const std::string& text : texts) out += (out.empty() ? "" : "; ") + text;
    return out;
}

// The entry point a step calls into the module through.
struct EntryPointName {
    std::string operator()(const OpenAction&) const { return "getModule"; }
    std::string operator()(const EventAction& e) const { return "session event " + std::to_string(e.type); }
    std::string operator()(const PacketAction&) const { return "onPacket"; }
    std::string operator()(const RequestAction&) const { return "onRequest"; }
    std::string operator()(const AdvanceAction&) const { return "task run"; }
    std::string operator()(const LeaveAction&) const { return "onLeave"; }
    std::string operator()(const ReleaseAction&) const { return "releaseModule"; }
    std::string operator()(const AskAction& a) const {
        return a.what == "uris" ? "getUriCount, getUris" : a.what == "reqtypes" ? "getReqTypeCount, getReqTypes" : "getModFlag";
    }
    std::string operator()(const auto&) const { return "the host"; }
};

std::string entryPoint(const Step& step) { return std::visit(EntryPointName{}, step.what); }

// LeakSanitizer's look at the heap, in a sanitizer build: whether memory
// nothing refers to any more is left (its report names the allocations).
// What leaked stays leaked, so only the first look that finds some tells
// when; one look costs tens of milliseconds, so the sweep looks once per
// step's runs, not once per run.
class LeakWatch {
public:
    // True the first time a look finds a leak.
    bool leakedSinceLastLook() {
#if defined(SAPP_HOST_LEAK_CHECK)
        if (m_leaked) return false;
        m_leaked = __lsan_do_recoverable_leak_check() != 0;
        return m_leaked;
#else
        return false;
#endif
    }

private:
    [[maybe_unused]] bool m_leaked = false;
};

// The stand-ins' watch on every host call (HostFaults.h), for as long as it
// lives.
class Watch {
public:
    explicit Watch(std::function<bool(HostCall)> watch) { standin::setHostCallWatch(std::move(watch)); }
    ~Watch() { standin::setHostCallWatch({}); }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
};

// Plays the scenario, watching every host call, with one of them failing or
// none.
class SweepPlayer {
public:
    SweepPlayer(const ModuleLibrary& module, const Scenario& scenario) : m_module(module), m_scenario(scenario) {}

    RunRecord play(std::optional<Target> target) {
        m_run = RunRecord{};
        m_run.steps.resize(m_scenario.steps.size() + 1);
        m_target = target;
        m_step = kNoStep;
        const long refsBefore = standin::outstandingDatabaseRefs();
        RunOptions options;
        options.skipWithoutModule = true;
        options.closeAll = true;
        options.eachSessionAtEnd = [this](standin::Session& session) {
            if (session.watcherCount() != 0) m_run.problems.push_back("a session object kept the module's watcher");
            if (session.taskQueue().queuedCount() != 0) m_run.problems.push_back("a session's queue kept the module's task");
        };
        {
            const Watch watch([this](HostCall call) { return onCall(call); });
            runScenario(m_module, m_scenario, [this](const Json& line) { onLine(line); }, options);
        }
        if (standin::outstandingDatabaseRefs() != refsBefore) {
            m_run.problems.push_back("database references held: " +
                                     std::to_string(standin::outstandingDatabaseRefs() - refsBefore));
        }
        if (standin::databaseRefErrors() != 0) m_run.problems.push_back("a database reference released twice");
        return std::move(m_run);
    }

private:
    bool onCall(HostCall call) {
        if (std::uncaught_exceptions() > 0) {
            m_run.problems.push_back(std::string("a host call while an exception unwound (a destructor's?): ") +
                                     standin::hostCallName(call));
        }
        if (m_step == kNoStep) return false;
        std::vector<HostCall>& calls = m_run.steps[m_step].calls;
        calls.push_back(call);
        if (!m_target || m_target->step != m_step || m_target->call + 1 != calls.size()) return false;
        m_run.failed = call;
        return true;
    }

    void onLine(const Json& line) {
        const auto item = line.items().begin();
        const std::string& kind = item.key();
        const Json& body = item.value();
        if (kind == "step") {
            m_step = body["index"].get<std::size_t>();
        } else if (m_step == kNoStep) {
            return;
        } else if (kind == "log") {
            m_run.steps[m_step].logs.push_back(body["text"].get<std::string>());
        } else if (kind == "error") {
            m_run.steps[m_step].errors.push_back(body["type"].get<std::string>() + ": " +
                                                 body["what"].get<std::string>());
        }
    }

    const ModuleLibrary& m_module;
    const Scenario& m_scenario;
    RunRecord m_run;
    std::optional<Target> m_target;
    std::size_t m_step = kNoStep;
};

// Whether the module's lines say the run destroyed it: its destruction
// after the last getModule, if there was one.
bool moduleDestroyed(const RunRecord& run) {
    for (auto step = run.steps.rbegin(); step != run.steps.rend(); ++step) {
        for (auto log = step->logs.rbegin(); log != step->logs.rend(); ++log) {
            if (*log == kModuleGoneLine) return true;
            if (*log == kGetModuleLine) return false;
        }
    }
    return true;
}

// What a run with call `k` of step `i` failing did wrong, measured against
// the baseline.
std::vector<std::string> check(const RunRecord& base, const RunRecord& run, std::size_t i, std::size_t k) {
    std::vector<std::string> problems = run.problems;
    const HostCall expected = base.steps[i].calls[k];
    if (!run.failed) {
        problems.push_back("the call was not made: the module's calls differ from run to run");
        return problems;
    }
    if (*run.failed != expected) {
        problems.push_back(std::string("the module made ") + standin::hostCallName(*run.failed) + " there, not " +
                           standin::hostCallName(expected));
        return problems;
    }
    for (std::size_t s = 0; s < i; ++s) {
        if (run.steps[s] != base.steps[s]) problems.push_back("step " + std::to_string(s) + " differs from the baseline");
    }
    const std::size_t steps = run.steps.size();
    if (standin::isLogCall(expected)) {
        for (std::size_t s = i; s < steps; ++s) {
            const std::string step = "step " + std::to_string(s);
            if (withoutLogCalls(run.steps[s].calls) != withoutLogCalls(base.steps[s].calls)) {
                problems.push_back(step + " made other host calls than the baseline");
            }
            if (run.steps[s].errors != base.steps[s].errors) {
                problems.push_back(step + " threw: " + listOf(run.steps[s].errors));
            }
            // The line may have been one the host's level check keeps out.
            const bool logsAsExpected = run.steps[s].logs == base.steps[s].logs ||
                                        (s == i && oneLost(base.steps[s].logs, run.steps[s].logs));
            if (!logsAsExpected) {
                problems.push_back(step + (s == i ? " lost more than the one line" : " logged other lines"));
            }
        }
        return problems;
    }
    const std::vector<std::string> passedOn{std::string("HostFault: host fault: ") + standin::hostCallName(expected)};
    if (run.steps[i].errors != passedOn) {
        problems.push_back("the entry point did not pass the HostFault on: it threw " + listOf(run.steps[i].errors));
    }
    for (std::size_t s = i + 1; s < steps; ++s) {
        if (!run.steps[s].errors.empty()) {
            problems.push_back("step " + std::to_string(s) + " threw after the fault: " + listOf(run.steps[s].errors));
        }
    }
    // (Where the scenario's host keeps the lines out, they cannot tell.)
    if (moduleDestroyed(base) && !moduleDestroyed(run)) problems.push_back("the module was not destroyed at the end");
    return problems;
}

// One line of the report: an entry point, a host call (none: the entry
// point made no host call), and its runs.
struct Pair {
    std::string entryPoint;
    std::optional<HostCall> call;
    std::size_t runs = 0;
    std::size_t failed = 0;
};

std::string pairLine(const std::string& left, const std::string& right) {
    std::string line = "  " + left;
    line.resize(std::max<std::size_t>(line.size() + 1, 60), ' ');
    return line + right;
}

}  // namespace

bool sweepScenario(const ModuleLibrary& module, const Scenario& scenario, std::ostream& out, SweepMode mode) {
    SweepPlayer player(module, scenario);
    player.play(std::nullopt);  // the module takes the log sink, if the host has one
    const RunRecord base = player.play(std::nullopt);
    for (std::size_t s = 0; s < base.steps.size(); ++s) {
        if (!base.steps[s].errors.empty()) {
            throw ScenarioError(scenario.source + ": step " + std::to_string(s) + " throws without a fault (" +
                                listOf(base.steps[s].errors) + "); the sweep needs a scenario that runs clean");
        }
    }

    if (mode == SweepMode::CallsOnly) {
        std::vector<std::string> functions;
        for (const StepRecord& step : base.steps) {
            for (const HostCall call : step.calls) functions.push_back(standin::hostCallFunction(call));
        }
        std::sort(functions.begin(), functions.end());
        functions.erase(std::unique(functions.begin(), functions.end()), functions.end());
        for (const std::string& function : functions) out << kSweepCallTag << function << "\n";
        return true;
    }

    std::size_t total = 0;
    for (std::size_t i = 0; i < scenario.steps.size(); ++i) total += base.steps[i].calls.size();
    out << "sweep: \"" << scenario.name << "\" (" << scenario.source << "): " << scenario.steps.size()
        << " steps, " << total << " host calls without a fault, one run with each failing" << std::endl;
    std::size_t failedRuns = 0;
    LeakWatch leaks;
    if (leaks.leakedSinceLastLook()) {
        ++failedRuns;
        out << "FAIL  the runs without a fault leaked memory (LeakSanitizer's report above)" << std::endl;
    }
    if (!base.problems.empty()) {
        ++failedRuns;
        out << "FAIL  the run without a fault: " << listOf(base.problems) << std::endl;
    }

    std::vector<Pair> pairs;
    for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
        const std::vector<HostCall>& calls = base.steps[i].calls;
        const std::string entry = entryPoint(scenario.steps[i]);
        const auto samePair = [&](const Pair& p) { return p.entryPoint == entry && p.call == std::nullopt; };
        if (calls.empty() && callsModule(scenario.steps[i]) && std::none_of(pairs.begin(), pairs.end(), samePair)) {
            pairs.push_back(Pair{entry, std::nullopt});
        }
        for (std::size_t k = 0; k < calls.size(); ++k) {
            const std::string run = "step " + std::to_string(i) + " (" + entry + "), call " + std::to_string(k + 1) +
                                    " of " + std::to_string(calls.size()) + " (" + standin::hostCallName(calls[k]) + ")";
            out << kSweepRunTag << run << std::endl;
            const std::vector<std::string> problems = check(base, player.play(Target{i, k}), i, k);
            auto pair = std::find_if(pairs.begin(), pairs.end(),
                                     [&](const Pair& p) { return p.entryPoint == entry && p.call == calls[k]; });
            if (pair == pairs.end()) pair = pairs.insert(pairs.end(), Pair{entry, calls[k]});
            ++pair->runs;
            if (problems.empty()) continue;
            ++pair->failed;
            ++failedRuns;
            out << "FAIL  " << run << ": " << listOf(problems) << std::endl;
        }
        if (leaks.leakedSinceLastLook()) {
            ++failedRuns;
            out << "FAIL  a run of step " << i << " (" << entry
                << ") leaked memory (LeakSanitizer's report above names it)" << std::endl;
        }
    }

    for (const Pair& pair : pairs) {
        if (!pair.call) {
            out << pairLine(pair.entryPoint, "no host call") << "\n";
            continue;
        }
        out << pairLine(pair.entryPoint + " x " + standin::hostCallName(*pair.call),
                        std::to_string(pair.runs) + (pair.runs == 1 ? " run, " : " runs, ") +
                            (standin::isLogCall(*pair.call) ? "the line dropped" : "passed on"));
        if (pair.failed) out << ", " << pair.failed << " FAILED";
        out << "\n";
    }
    const auto calling = std::count_if(pairs.begin(), pairs.end(), [](const Pair& p) { return p.call.has_value(); });
    out << "sweep: " << total << " runs, " << calling << " pairs of entry point and host call, "
        << (failedRuns ? std::to_string(failedRuns) + " failed" : std::string("every one passed")) << std::endl;
    return failedRuns == 0;
}

std::vector<HostCall> loadWithWatch(const std::string& path, ModuleLibrary& loaded) {
    std::vector<HostCall> calls;
    const Watch watch([&](HostCall call) {
        calls.push_back(call);
        return false;
    });
    loaded = loadModule(path);
    return calls;
}

bool sweepLoadCall(const std::string& path, std::size_t call, std::size_t calls, const Scenario& scenario,
                   std::ostream& out) {
    std::optional<HostCall> failed;
    ModuleLibrary module;
    {
        std::size_t made = 0;
        const Watch watch([&](HostCall c) {
            if (made++ != call) return false;
            failed = c;
            return true;
        });
        module = loadModule(path);
    }
    const std::string run = "load, call " + std::to_string(call + 1) + " of " + std::to_string(calls) + " (" +
                            (failed ? standin::hostCallName(*failed) : "none") + ")";
    SweepPlayer player(module, scenario);
    RunRecord after = player.play(std::nullopt);
    std::vector<std::string> problems = std::move(after.problems);
    if (!failed) problems.push_back("the load made fewer host calls");
    for (std::size_t s = 0; s < after.steps.size(); ++s) {
        if (!after.steps[s].errors.empty()) {
            problems.push_back("step " + std::to_string(s) + " threw: " + listOf(after.steps[s].errors));
        }
    }
    if (!moduleDestroyed(after)) problems.push_back("the module was not destroyed at the end");
    if (LeakWatch().leakedSinceLastLook()) problems.push_back("memory leaked (LeakSanitizer's report above)");
    if (!problems.empty()) {
        out << "FAIL  " << run << ": " << listOf(problems) << std::endl;
        return false;
    }
    out << pairLine(std::string("load x ") + standin::hostCallName(*failed),
                    "call " + std::to_string(call + 1) + " of " + std::to_string(calls) +
                        ": loaded, the session ran and closed cleanly")
        << std::endl;
    return true;
}

}  // namespace sapphost
