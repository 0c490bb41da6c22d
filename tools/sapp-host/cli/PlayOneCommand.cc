// The hidden single-scenario mode that check starts for each scenario file:
// plays it and reports the outcome to the parent on standard output; in the
// traced mode (for the HTML report) every trace line first.
#include <functional>
#include <iostream>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/platform/Process.h"
#include "tools/sapp-host/scenario/Runner.h"
#include "tools/sapp-host/scenario/Scenario.h"

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
    const std::string& file = options.args.at(0);
    std::string name = file;
    try {
        const StreamedScenario scenario = streamScenario(file);
        name = scenario.head().name;
        const ModuleLibrary module = loadModule(modulePathOf(options));
        std::function<void(const Json&)> onLine;
        if (options.command == kPlayTracedCommand.name) {
            onLine = [](const Json& line) {
                std::cout << kTraceTag << virtualNow() << ' ' << dumpCompact(line) << '\n';
            };
        }
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

void oneScenario(const Options& options) { requireArguments(options, 1, 1, "one scenario file expected"); }

}  // namespace

const Command kPlayOneCommand = {"__play-one", "FILE", {}, {}, {}, oneScenario, playOneCommand};
const Command kPlayTracedCommand = {"__play-one-traced", "FILE", {}, {}, {}, oneScenario, playOneCommand};

}  // namespace sapphost
