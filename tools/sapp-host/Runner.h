// Plays a scenario against the loaded module with the stand-in host and
// records its trace.
//
// Host model: the host keeps the module pointer that getModule last returned
// for as long as the module's singleton lives: from the first getModule until
// the releaseModule that leaves the module's session registry empty. It
// follows that registry from its own calls, by the module's rules (see
// HeldModule in Runner.cc), so that it neither uses a destroyed singleton nor
// drops a live one. A step that needs the module (packet, request, leave,
// ask) while the host holds none is a scenario error. Session objects live
// until the run ends.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/sapp-host/JsonSupport.h"
#include "tools/sapp-host/ModuleLibrary.h"
#include "tools/sapp-host/Scenario.h"

namespace sapphost {

struct StepFailure {
    std::size_t index = 0;
    std::string action;
    std::string check;        // what failed, e.g. "expect[1] {...}: matches no line"
    std::vector<Json> lines;  // the step's lines, its step line excluded
};

struct RunResult {
    std::vector<Json> trace;
    // Each step's lines as its checks see them: without its step line and
    // its recv lines, by step index.
    std::vector<std::vector<Json>> effects;
    std::vector<StepFailure> failures;
};

// Plays every step in order, calling `onLine` with each trace line as it is
// produced, and evaluates each step's checks after the step. Exceptions that
// leave the module become error lines. Raises ScenarioError for a step that
// cannot be performed (see above).
RunResult runScenario(const ModuleLibrary& module, const Scenario& scenario,
                      const std::function<void(const Json&)>& onLine = {});

// A failure as text: scenario, step, check, then the step's lines indented.
std::string formatFailure(const Scenario& scenario, const StepFailure& failure);

}  // namespace sapphost
