// Plays a scenario against the loaded module with the stand-in host and
// records its trace.
//
// Host model: the host keeps what a host knows, the session objects it
// opened and the module pointer that getModule last returned. The module
// watches exactly the sessions it holds, and the releaseModule that leaves
// it none destroys it (module/ISessionMod.h): the host drops the pointer at
// the release after which none of its session objects is watched, so that
// it neither uses a destroyed singleton nor drops a live one. A step that
// needs the module (packet, request, leave, ask) while the host holds none
// is a scenario error. Session objects live until the run ends.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/sapp-host/records/JsonSupport.h"
#include "tools/sapp-host/scenario/Matcher.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

struct StepFailure {
    std::size_t index = 0;
    std::string action;
    CheckFailure check;
    std::vector<std::string> lines;  // compact JSON of the step's first lines (see StepChecker)
    std::size_t lineCount = 0;       // how many lines the step produced
};

struct RunResult {
    std::vector<StepFailure> failures;
};

// Plays every step in order, calling `onLine` with each trace line as it is
// produced, and evaluates each step's checks as its lines come. No line is
// kept beyond what the checks of its step need (StepChecker), so memory
// follows the largest step, not the length of the scenario. Exceptions that
// leave the module become error lines. Raises ScenarioError for a step that
// cannot be performed (see above).
RunResult runScenario(const ModuleLibrary& module, const Scenario& scenario,
                      const std::function<void(const Json&)>& onLine = {});

// The stand-in host's virtual clock, in ms since the process started: the
// time of a trace line when asked from `onLine`. Only an advance step moves
// it, running due tasks at their own times.
uint64_t virtualNow();

// A failure as text: scenario, step, check, where the line differs, then
// the step's lines indented.
std::string formatFailure(const Scenario& scenario, const StepFailure& failure);
// {"step", "check", "line", "nearest", "differences": [...]} of a failure
// that names a line; null otherwise.
Json failureDifferences(const StepFailure& failure);

}  // namespace sapphost
