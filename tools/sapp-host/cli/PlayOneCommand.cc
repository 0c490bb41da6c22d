// The hidden single-scenario mode that check (and sweep, for a scenario's
// own checks) starts for each scenario file, or the built-in session without
// one: plays it and reports the outcome to the parent on standard output,
// with a line as each step begins (StepTag.h); in the traced mode (for the
// HTML report) every trace line too.
#include <functional>
#include <iostream>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/platform/Process.h"
#include "tools/sapp-host/scenario/Runner.h"
#include "tools/sapp-host/scenario/Scenario.h"
#include "tools/sapp-host/scenario/StepTag.h"

namespace sapphost {

namespace {

void report(const std::string& name, const std::vector<std::string>& failures, const Json& differences,
            const std::string* error) {
    Json line = Json::object();
    line["name"] = name;
    line["failures"] = failures;
    line["differences"] = differences;
    line["error"] = error ? Json(*error) : Json();
    std::cout << kReportTag << dumpCompact(line) << std::endl;
}

// Its errors are part of its report: the parent reads them from there.
int playOneCommand(const Options& options) {
    prepareChildProcess();
    std::string name = options.args.empty() ? std::string("the built-in session") : options.args.front();
    try {
        const StreamedScenario scenario = streamedScenarioArgument(options);
        name = scenario.head().name;
        const ModuleLibrary module = loadModule(modulePathOf(options));
        const bool traced = options.command == kPlayTracedCommand.name;
        const std::function<void(const Json&)> onLine = [traced](const Json& line) {
            if (const auto step = line.find("step"); step != line.end()) {
                tellStep(std::cout, (*step)["index"].get<std::size_t>(), (*step)["action"].get<std::string>());
            }
            if (traced) std::cout << kTraceTag << virtualNow() << ' ' << dumpCompact(line) << '\n';
        };
        const RunResult result = runScenario(module, scenario, onLine);
        std::vector<std::string> failures;
        Json differences = Json::array();
        for (const StepFailure& failure : result.failures) {
            failures.push_back(formatFailure(scenario.head(), failure));
            differences.push_back(failureJson(scenario.head(), failure));
        }
        report(name, failures, differences, nullptr);
        return failures.empty() ? kExitOk : kExitFailed;
    } catch (const std::runtime_error& e) {
        const std::string error = e.what();
        report(name, {}, Json::array(), &error);
        return kExitBadInput;
    }
}

void oneScenario(const Options& options) {
    requireArguments(options, 0, 1, "one scenario file, or none for the built-in session, expected");
}

}  // namespace

const Command kPlayOneCommand = {"__play-one", "[FILE]", {}, {}, {}, oneScenario, playOneCommand};
const Command kPlayTracedCommand = {"__play-one-traced", "[FILE]", {}, {}, {}, oneScenario, playOneCommand};

}  // namespace sapphost
