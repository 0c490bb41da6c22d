// diagram: one scenario, or the built-in typical session, as a Mermaid
// sequence diagram of its trace.
#include <iostream>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/report/Diagram.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/scenario/Runner.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

namespace {

int diagramCommand(const Options& options) {
    const StreamedScenario scenario = streamedScenarioArgument(options);
    const ModuleLibrary module = loadModule(modulePathOf(options));
    // Drawn as the trace comes, like run's output: nothing is kept but the
    // step being played, whose action a step line draws.
    std::cout << diagramHeader();
    const Step* playing = nullptr;
    RunOptions runOptions;
    runOptions.onStep = [&playing](const Step& step) { playing = &step; };
    const RunResult result = runScenario(
        module, scenario, [&](const Json& line) { std::cout << diagramLines(playing, line); }, runOptions);
    std::cout.flush();
    if (!result.failures.empty()) {
        std::cerr << "sapp-host diagram: " << result.failures.size()
                  << (result.failures.size() == 1 ? " failed check" : " failed checks")
                  << " (sapp-host run shows which)\n";
    }
    return result.failures.empty() ? kExitOk : kExitFailed;
}

}  // namespace

const Command kDiagramCommand = {
    "diagram",
    "[FILE]",
    "play a scenario (the built-in typical session without FILE) and print a Mermaid sequence diagram of its trace",
    R"(Plays the scenario in FILE, or without FILE the built-in typical session,
and prints its trace as a Mermaid sequence diagram (paste it into any
Mermaid-aware viewer, or a ```mermaid block of a Markdown file). The
participants are Server, Host, Module and Client. Arrows: the host's calls
(getModule, session events, onLeave, releaseModule, the questions it asks)
and the module's answers and watcher calls; packets from the server and
client requests as delivered; the module's sends and posted events. Each is
labelled with the record or event name and its key fields: URI, app ids,
sequence number. Notes: timer tasks (add, run, remove), clock advances,
host-side changes, exceptions. Log lines are left out.
)",
    R"(Exit status: 0 drawn, 1 drawn but a check of the scenario failed, 2 bad
scenario or no module.
)",
    [](const Options& options) { requireArguments(options, 0, 1, "diagram plays one scenario file"); },
    diagramCommand,
};

}  // namespace sapphost
