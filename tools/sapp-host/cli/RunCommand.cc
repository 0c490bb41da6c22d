// run: one scenario, or the built-in typical session, and its trace.
#include <iostream>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/scenario/Runner.h"
#include "tools/sapp-host/scenario/Scenario.h"
#include "tools/sapp-host/scenario/Trace.h"

namespace sapphost {

namespace {

// Prints trace lines readably: each step's note under its step line, and
// "no effect" for a step that called into the module (all but set_sid, db,
// host and fault) and produced nothing besides the echo of its input.
class ReadablePrinter {
public:
    explicit ReadablePrinter(const Scenario& scenario) : m_scenario(scenario) {}

    void print(const Json& line) {
        if (line.contains("step")) {
            finishStep();
            const Step& step = m_scenario.steps.at(line["step"]["index"].get<std::size_t>());
            m_pStep = &step;
            m_effects = 0;
            std::cout << trace::render(line) << "\n";
            if (!step.note.empty()) std::cout << "  # " << step.note << "\n";
            return;
        }
        if (!trace::isInput(line)) ++m_effects;
        std::cout << trace::render(line) << "\n";
    }

    void finishStep() {
        if (m_pStep && m_effects == 0 && callsModule(*m_pStep)) std::cout << "  no effect\n";
        m_pStep = nullptr;
    }

private:
    const Scenario& m_scenario;
    const Step* m_pStep = nullptr;
    std::size_t m_effects = 0;
};

}  // namespace

int runCommand(const Options& options) {
    return reportingErrors(options, [&options] {
        const Scenario scenario = scenarioArgument(options);
        const ModuleLibrary module = loadModule(modulePathOf(options));
        if (!options.json) std::cout << "scenario: " << scenario.name << "\n";
        ReadablePrinter printer(scenario);
        const RunResult result = runScenario(module, scenario, [&](const Json& line) {
            if (options.json) {
                std::cout << dumpCompact(line) << "\n";
            } else {
                printer.print(line);
            }
        });
        if (!options.json) printer.finishStep();
        std::cout.flush();
        std::ostream& report = options.json ? std::cerr : std::cout;
        if (!options.json) {
            report << "\n" << scenario.steps.size() << " steps, " << result.failures.size() << " failed checks\n";
        }
        for (const StepFailure& failure : result.failures) report << "FAILED " << formatFailure(scenario, failure);
        return result.failures.empty() ? kExitOk : kExitFailed;
    });
}

}  // namespace sapphost
