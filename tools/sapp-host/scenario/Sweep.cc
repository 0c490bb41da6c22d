// The fault sweep (Sweep.h).
#include "tools/sapp-host/scenario/Sweep.h"

#include <algorithm>
#include <array>
#include <exception>
#include <functional>
#include <optional>
#include <utility>
#include <variant>

#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinDatabase.h"
#include "tools/sapp-host/scenario/Runner.h"
#include "tools/sapp-host/scenario/StepTag.h"
#include "tools/sapp-host/scenario/SweepCheck.h"

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

// Which call of which step fails.
struct Target {
    std::size_t step = 0;
    std::size_t call = 0;
};

// An exception as the trace's error line names one a host call threw: the
// stand-ins throw HostFault, or another std::exception of their own.
std::string raisedText(const std::exception& thrown) {
    return std::string(dynamic_cast<const standin::HostFault*>(&thrown) ? "HostFault: " : "other: ") + thrown.what();
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

// The stand-ins' observer of every host call that throws, for as long as it
// lives.
class ThrowWatch {
public:
    explicit ThrowWatch(std::function<void(HostCall, const std::exception&)> observer) {
        standin::setHostThrowObserver(std::move(observer));
    }
    ~ThrowWatch() { standin::setHostThrowObserver({}); }
    ThrowWatch(const ThrowWatch&) = delete;
    ThrowWatch& operator=(const ThrowWatch&) = delete;
};

// Plays the scenario, watching every host call, with one of them failing or
// none.
class SweepPlayer {
public:
    // `steps`, when given, is told of each step as it begins (StepTag.h).
    SweepPlayer(const ModuleLibrary& module, const Scenario& scenario, std::ostream* steps)
        : m_module(module), m_scenario(scenario), m_steps(steps) {}

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
            const ThrowWatch throws([this](HostCall call, const std::exception& thrown) { onThrow(call, thrown); });
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
        m_failing = true;
        return true;
    }

    // A host call throws: the sweep's fault (the call onCall just failed) or
    // one the scenario sets up. The log sink's are the module's to drop.
    void onThrow(HostCall call, const std::exception& thrown) {
        const bool injected = std::exchange(m_failing, false);
        if (m_step == kNoStep || standin::isLogCall(call)) return;
        m_run.steps[m_step].raised.push_back(RaisedError{call, raisedText(thrown), injected});
    }

    void onLine(const Json& line) {
        const auto item = line.items().begin();
        const std::string& kind = item.key();
        const Json& body = item.value();
        if (kind == "step") {
            m_step = body["index"].get<std::size_t>();
            if (m_steps) tellStep(*m_steps, m_step, body["action"].get<std::string>());
        } else if (m_step == kNoStep) {
            return;
        } else if (kind == "log") {
            m_run.steps[m_step].logs.push_back(body["text"].get<std::string>());
        } else if (kind == "error") {
            StepRecord& step = m_run.steps[m_step];
            step.errors.push_back(
                LeftError{body["type"].get<std::string>() + ": " + body["what"].get<std::string>(), step.raised.size()});
        }
    }

    const ModuleLibrary& m_module;
    const Scenario& m_scenario;
    std::ostream* m_steps;
    RunRecord m_run;
    std::optional<Target> m_target;
    std::size_t m_step = kNoStep;
    bool m_failing = false;  // the watch has just failed a call, which is about to throw
};

// One line of the report: an entry point, a host call (none: the entry
// point made no host call), and its runs: how many, how the passed ones
// ended, how many failed.
struct Pair {
    std::string entryPoint;
    std::optional<HostCall> call;
    std::size_t runs = 0;
    std::size_t failed = 0;
    std::array<std::size_t, kFaultOutcomes> ended{};
};

// A step that throws without the sweep's fault, and how its passed runs
// ended: in the fault, or in the step's own exception.
struct ThrowingStep {
    std::size_t index = 0;
    std::string entryPoint;
    std::string errors;
    std::size_t runs = 0;
    std::size_t inFault = 0;
    std::size_t inOwn = 0;
};

std::string pairLine(const std::string& left, const std::string& right) {
    std::string line = "  " + left;
    line.resize(std::max<std::size_t>(line.size() + 1, 60), ' ');
    return line + right;
}

std::string runs(std::size_t n) { return std::to_string(n) + (n == 1 ? " run" : " runs"); }

// What became of a pair's runs: "12 runs, thrown back to the host (3 in
// place of the step's own exception); 1 ended in the step's own exception,
// the fault dropped".
std::string pairOutcome(const Pair& pair) {
    const auto ended = [&](FaultOutcome outcome) { return pair.ended[static_cast<std::size_t>(outcome)]; };
    std::string text = runs(pair.runs) + ", ";
    if (standin::isLogCall(*pair.call)) {
        text += "the line dropped";
        if (const std::size_t own = ended(FaultOutcome::LineDroppedOwn)) {
            text += " (" + std::to_string(own) + " still ended in the step's own exception)";
        }
    } else {
        const std::size_t inFault = ended(FaultOutcome::PassedOn) + ended(FaultOutcome::InPlaceOfOwn);
        const std::size_t own = ended(FaultOutcome::OwnError);
        if (inFault || !own) text += "thrown back to the host";
        if (const std::size_t inPlace = ended(FaultOutcome::InPlaceOfOwn)) {
            text += " (" + std::to_string(inPlace) + " in place of the step's own exception)";
        }
        if (own) {
            text += std::string(inFault ? "; " + std::to_string(own) + " " : "") +
                    "ended in the step's own exception, the fault dropped";
        }
    }
    if (pair.failed) text += ", " + std::to_string(pair.failed) + " FAILED";
    return text;
}

}  // namespace

bool sweepScenario(const ModuleLibrary& module, const Scenario& scenario, std::ostream& out, SweepMode mode) {
    SweepPlayer player(module, scenario, &out);
    player.play(std::nullopt);  // the module takes the log sink, if the host has one
    const RunRecord base = player.play(std::nullopt);

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
    std::vector<ThrowingStep> throwing;
    for (std::size_t i = 0; i < base.steps.size(); ++i) {
        if (i < scenario.steps.size()) total += base.steps[i].calls.size();
        if (base.steps[i].errors.empty()) continue;
        throwing.push_back(ThrowingStep{i, i < scenario.steps.size() ? entryPoint(scenario.steps[i]) : "closing",
                                        errorList(base.steps[i])});
    }
    if (throwing.empty()) out << kSweepCleanTag << std::endl;
    out << "sweep: \"" << scenario.name << "\" (" << scenario.source << "): " << scenario.steps.size()
        << " steps, " << total << " host calls without a fault, one run with each failing";
    if (!throwing.empty()) {
        out << "; " << throwing.size()
            << (throwing.size() == 1 ? " step throws without a fault: its runs"
                                     : " steps throw without a fault: their runs")
            << " may end in that exception";
    }
    out << std::endl;
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
        const auto thrower = std::find_if(throwing.begin(), throwing.end(),
                                          [i](const ThrowingStep& step) { return step.index == i; });
        for (std::size_t k = 0; k < calls.size(); ++k) {
            const std::string run = "step " + std::to_string(i) + " (" + entry + "), call " + std::to_string(k + 1) +
                                    " of " + std::to_string(calls.size()) + " (" + standin::hostCallName(calls[k]) + ")";
            out << kSweepRunTag << run << std::endl;
            const RunVerdict verdict = checkRun(base, player.play(Target{i, k}), i, k);
            auto pair = std::find_if(pairs.begin(), pairs.end(),
                                     [&](const Pair& p) { return p.entryPoint == entry && p.call == calls[k]; });
            if (pair == pairs.end()) pair = pairs.insert(pairs.end(), Pair{entry, calls[k]});
            ++pair->runs;
            if (thrower != throwing.end()) ++thrower->runs;
            if (verdict.problems.empty()) {
                ++pair->ended[static_cast<std::size_t>(verdict.outcome)];
                if (thrower != throwing.end()) {
                    const bool inFault = verdict.outcome == FaultOutcome::InPlaceOfOwn;
                    ++(inFault ? thrower->inFault : thrower->inOwn);
                }
                continue;
            }
            ++pair->failed;
            ++failedRuns;
            out << "FAIL  " << run << ": " << listOf(verdict.problems) << std::endl;
        }
        if (leaks.leakedSinceLastLook()) {
            ++failedRuns;
            out << "FAIL  a run of step " << i << " (" << entry
                << ") leaked memory (LeakSanitizer's report above names it)" << std::endl;
        }
    }

    for (const Pair& pair : pairs) {
        out << pairLine(pair.call ? pair.entryPoint + " x " + standin::hostCallName(*pair.call) : pair.entryPoint,
                        pair.call ? pairOutcome(pair) : "no host call")
            << "\n";
    }
    std::size_t throwingRuns = 0;
    std::size_t inFault = 0;
    std::size_t inOwn = 0;
    for (const ThrowingStep& step : throwing) {
        out << "  step " << step.index << " (" << step.entryPoint << ") without a fault throws " << step.errors;
        if (step.runs == 0) {
            out << "; no run, it makes no host call\n";
            continue;
        }
        out << "; of its " << runs(step.runs) << ", " << step.inFault << " ended in the fault, " << step.inOwn
            << " in that exception";
        if (const std::size_t failed = step.runs - step.inFault - step.inOwn) out << ", " << failed << " FAILED";
        out << "\n";
        throwingRuns += step.runs;
        inFault += step.inFault;
        inOwn += step.inOwn;
    }
    const auto calling = std::count_if(pairs.begin(), pairs.end(), [](const Pair& p) { return p.call.has_value(); });
    out << "sweep: " << total << " runs, " << calling << " pairs of entry point and host call, "
        << (failedRuns ? std::to_string(failedRuns) + " failed" : std::string("every one passed"));
    if (!throwing.empty()) {
        out << "; of the " << throwingRuns << " runs of steps that throw without a fault, " << inFault
            << " ended in the fault, " << inOwn << " in the step's own exception";
    }
    out << std::endl;
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
    SweepPlayer player(module, scenario, &out);
    RunRecord after = player.play(std::nullopt);
    std::vector<std::string> problems = std::move(after.problems);
    if (!failed) problems.push_back("the load made fewer host calls");
    for (std::size_t s = 0; s < after.steps.size(); ++s) {
        if (!after.steps[s].errors.empty()) {
            problems.push_back("step " + std::to_string(s) + " threw: " + errorList(after.steps[s]));
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
