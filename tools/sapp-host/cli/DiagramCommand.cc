// diagram: one scenario, or the built-in typical session, as a Mermaid
// sequence diagram of its trace.
#include <iostream>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/report/Diagram.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/scenario/Runner.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

int diagramCommand(const Options& options) {
    return reportingErrors(options, [&options] {
        const Scenario scenario = scenarioArgument(options);
        const ModuleLibrary module = loadModule(modulePathOf(options));
        // Drawn as the trace comes, like run's output: nothing is kept.
        std::cout << diagramHeader();
        const RunResult result =
            runScenario(module, scenario, [&](const Json& line) { std::cout << diagramLines(scenario, line); });
        std::cout.flush();
        if (!result.failures.empty()) {
            std::cerr << "sapp-host diagram: " << result.failures.size()
                      << " failed checks (sapp-host run shows which)\n";
        }
        return result.failures.empty() ? kExitOk : kExitFailed;
    });
}

}  // namespace sapphost
