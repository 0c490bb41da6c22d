// run: one scenario, or the built-in typical session, and its trace.
#include <iostream>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/scenario/Runner.h"
#include "tools/sapp-host/scenario/Scenario.h"
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

int playAndPrint(const Options& options) {
    const bool json = options.has("--json");
    const StreamedScenario scenario = streamedScenarioArgument(options);
    const ModuleLibrary module = loadModule(modulePathOf(options));
    const ScenarioHead& head = scenario.head();
    if (!json) std::cout << "scenario: " << head.name << "\n";
    RunOptions runOptions;
    if (!json) runOptions.onNoEffect = printNoEffect;
    const RunResult result = runScenario(
        module, scenario,
        [&](const Json& line) {
            if (json) {
                std::cout << dumpCompact(line) << "\n";
            } else {
                printReadably(line);
            }
        },
        runOptions);
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
    if (!json) report << "\n" << head.stepCount << " steps, " << result.failures.size() << " failed checks\n";
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
step and the step's lines.
Exit status: 0 all checks passed, 1 a check failed, 2 bad scenario or no
module.
)",
    [](const Options& options) { requireArguments(options, 0, 1, "run plays one scenario file"); },
    playAndPrint,
};

}  // namespace sapphost
