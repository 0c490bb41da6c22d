// run: one scenario, or the built-in typical session, and its trace.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/scenario/Runner.h"
#include "tools/sapp-host/scenario/Scenario.h"
#include "tools/sapp-host/scenario/StepTag.h"
#include "tools/sapp-host/scenario/Trace.h"

namespace sapphost {

namespace {

// Prints trace lines readably, each step's note under its step line.
void printReadably(const Json& line) {
    std::cout << trace::render(line) << "\n";
    if (const auto step = line.find("step"); step != line.end() && step->contains("note")) {
        std::cout << "  # " << (*step)["note"].get_ref<const std::string&>() << "\n";
    }
}

// "no effect" under a step that called into the module (all but set_sid,
// db, host and fault) and produced nothing besides the echo of its input,
// with what the host knows of why.
void printNoEffect(const Step&, const std::string& why) {
    std::cout << "  no effect" << (why.empty() ? "" : ": " + why) << "\n";
}

// "1 failed check", "2 failed checks"
std::string failedChecks(std::size_t n) { return std::to_string(n) + (n == 1 ? " failed check" : " failed checks"); }

// The time limit of a run: a module call that does not return cannot be left,
// so when the scenario has not ended after `seconds` a thread of its own
// writes out the lines so far and the verdict, and ends the process with
// exit status 1. It takes the printing lock first, so that no line is cut.
class RunTimeLimit {
public:
    RunTimeLimit(uint64_t seconds, std::function<void(const std::optional<StepAt>&)> onTimeout)
        : m_onTimeout(std::move(onTimeout)) {
        if (seconds == 0) return;
        m_watch = std::thread([this, seconds] {
            std::unique_lock<std::mutex> lock(m_printing);
            if (m_ended.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_finished; })) return;
            m_onTimeout(m_step);
            std::cout.flush();
            std::cerr.flush();
            std::fflush(nullptr);
            std::_Exit(kExitFailed);
        });
    }
    ~RunTimeLimit() {
        {
            const std::lock_guard<std::mutex> lock(m_printing);
            m_finished = true;
        }
        m_ended.notify_all();
        if (m_watch.joinable()) m_watch.join();
    }
    RunTimeLimit(const RunTimeLimit&) = delete;
    RunTimeLimit& operator=(const RunTimeLimit&) = delete;

    // Prints a trace line under the lock, noting the step it begins.
    template <typename Print> void line(const Json& line, Print print) {
        const std::lock_guard<std::mutex> lock(m_printing);
        if (line.contains("step")) m_step = StepAt{line["step"]["index"].get<std::size_t>(), line["step"]["action"]};
        print();
    }

private:
    std::function<void(const std::optional<StepAt>&)> m_onTimeout;
    std::mutex m_printing;
    std::condition_variable m_ended;
    bool m_finished = false;
    std::optional<StepAt> m_step;
    std::thread m_watch;
};

int playAndPrint(const Options& options) {
    const bool json = options.has("--json");
    const StreamedScenario scenario = streamedScenarioArgument(options);
    const ModuleLibrary module = loadModule(modulePathOf(options));
    const ScenarioHead& head = scenario.head();
    const uint64_t timeout = options.number("--timeout");
    if (!json) std::cout << "scenario: " << head.name << "\n";
    RunOptions runOptions;
    if (!json) runOptions.onNoEffect = printNoEffect;
    const auto onTimeout = [&](const std::optional<StepAt>& step) {
        const std::string verdict = "TIMEOUT " + (step ? "at " + step->text() : std::string("before its first step")) +
                                    ": the scenario had not ended after " + std::to_string(timeout) +
                                    " s and was stopped (--timeout)";
        if (json) {
            Json summary = {{"name", head.name}, {"steps", head.stepCount}, {"result", "timeout"},
                            {"step", step ? Json(step->index) : Json()}, {"action", step ? Json(step->action) : Json()},
                            {"timeout", verdict}};
            std::cout << dumpCompact(Json{{"summary", std::move(summary)}}) << "\n";
            std::cerr << verdict << "\n";
        } else {
            std::cout << "\n" << verdict << "\n";
        }
    };
    RunResult result;
    {
        RunTimeLimit limit(timeout, onTimeout);
        result = runScenario(
            module, scenario,
            [&](const Json& line) {
                limit.line(line, [&] {
                    if (json) {
                        // Each line with the virtual time it was produced at,
                        // after the key that names its kind.
                        std::string text = dumpCompact(line);
                        text.insert(text.size() - 1, ",\"time\":" + std::to_string(virtualNow()));
                        std::cout << text << "\n";
                    } else {
                        printReadably(line);
                    }
                });
            },
            runOptions);
    }
    if (json) {
        // The run's outcome as the last line.
        Json failures = Json::array();
        for (const StepFailure& failure : result.failures) failures.push_back(failureJson(head, failure));
        Json summary = {{"name", head.name}, {"steps", head.stepCount},
                        {"result", result.failures.empty() ? "pass" : "fail"}, {"failed", result.failures.size()},
                        {"failures", std::move(failures)}};
        std::cout << dumpCompact(Json{{"summary", std::move(summary)}}) << "\n";
    }
    std::cout.flush();
    std::ostream& report = json ? std::cerr : std::cout;
    if (!json) report << "\n" << head.stepCount << " steps, " << failedChecks(result.failures.size()) << "\n";
    for (const StepFailure& failure : result.failures) report << formatFailure(head, failure);
    return result.failures.empty() ? kExitOk : kExitFailed;
}

}  // namespace

const Command kRunCommand = {
    "run",
    "[FILE]",
    "play one scenario (the built-in typical session without FILE) and print its trace",
    R"(Plays the scenario in FILE, or without FILE the built-in typical session
(open, user info, app query and its retry, an SDK V2 and an SDK V3 app, data
down and up for each, leave, release), and prints every effect in call
order: step, log, send, event, task, watch, answer and error lines, each
packet and request the host delivers as a recv line before the module's
lines of its step, and "no effect" under a step that called into the module
and produced nothing, with what the host knows of why (no open session holds
the sid; the URI or request type is not one the module asked for, when the
scenario asked for them). Byte strings read as quoted text where every byte
is printable ASCII and the text does not read as hex, otherwise as hex after
0x; a record's fields as shown are JSON that encode and scenarios read back.
)",
    R"(The checks of the scenario (expect, absent, exact) are evaluated against each
step's lines, recv lines excepted; each failed check is reported with its
step and the step's lines. A scenario that has not ended after --timeout
seconds is stopped after the lines so far, with TIMEOUT at step N (action).
Exit status: 0 all checks passed, 1 a check failed or the time ran out, 2 bad
scenario or no module.
)",
    [](const Options& options) { requireArguments(options, 0, 1, "run plays one scenario file"); },
    playAndPrint,
};

}  // namespace sapphost
