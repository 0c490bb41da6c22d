// run: one scenario, or the built-in typical session, and its trace.
#include <iostream>

#include "tools/sapp-host/BuiltinScenario.h"
#include "tools/sapp-host/Commands.h"
#include "tools/sapp-host/ModuleLibrary.h"
#include "tools/sapp-host/Runner.h"
#include "tools/sapp-host/Scenario.h"
#include "tools/sapp-host/Trace.h"

namespace sapphost {

int runCommand(const Options& options) {
    try {
        const Scenario scenario =
            options.args.empty() ? parseScenario(kBuiltinScenario, "built-in scenario") : loadScenario(options.args[0]);
        const ModuleLibrary module = loadModule(modulePathOf(options));
        if (!options.json) std::cout << "scenario: " << scenario.name << "\n";
        const RunResult result = runScenario(module, scenario, [&](const Json& line) {
            if (options.json) {
                std::cout << dumpCompact(line) << "\n";
                return;
            }
            std::cout << trace::render(line) << "\n";
            if (line.contains("step")) {
                const std::string& note = scenario.steps.at(line["step"]["index"].get<std::size_t>()).note;
                if (!note.empty()) std::cout << "  # " << note << "\n";
            }
        });
        std::cout.flush();
        std::ostream& report = options.json ? std::cerr : std::cout;
        if (!options.json) {
            report << "\n" << scenario.steps.size() << " steps, " << result.failures.size() << " failed checks\n";
        }
        for (const StepFailure& failure : result.failures) report << "FAILED " << formatFailure(scenario, failure);
        return result.failures.empty() ? kExitOk : kExitFailed;
    } catch (const ScenarioError& e) {
        std::cout.flush();
        std::cerr << "sapp-host run: bad scenario: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const std::runtime_error& e) {
        std::cout.flush();
        std::cerr << "sapp-host run: " << e.what() << "\n";
        return kExitBadInput;
    }
}

}  // namespace sapphost
