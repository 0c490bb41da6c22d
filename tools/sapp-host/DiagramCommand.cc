// diagram: one scenario, or the built-in typical session, as a Mermaid
// sequence diagram of its trace.
#include <iostream>

#include "tools/sapp-host/Commands.h"
#include "tools/sapp-host/Diagram.h"
#include "tools/sapp-host/ModuleLibrary.h"
#include "tools/sapp-host/Runner.h"
#include "tools/sapp-host/Scenario.h"

namespace sapphost {

int diagramCommand(const Options& options) {
    return reportingErrors(options, [&options] {
        const Scenario scenario = scenarioArgument(options);
        const ModuleLibrary module = loadModule(modulePathOf(options));
        // Printed whole at the end: a scenario that cannot be played prints
        // no diagram at all. Only the drawn lines are kept, not the trace.
        std::string diagram = diagramHeader();
        const RunResult result =
            runScenario(module, scenario, [&](const Json& line) { diagram += diagramLines(scenario, line); });
        std::cout << diagram << std::flush;
        if (!result.failures.empty()) {
            std::cerr << "sapp-host diagram: " << result.failures.size()
                      << " failed checks (sapp-host run shows which)\n";
        }
        return result.failures.empty() ? kExitOk : kExitFailed;
    });
}

}  // namespace sapphost
