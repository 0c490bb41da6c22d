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

#include "standin/pktcore/StandinSession.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/records/JsonSupport.h"
#include "tools/sapp-host/scenario/Matcher.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

struct StepFailure {
    std::size_t index = 0;
    std::string action;
    TextPosition at;  // the step's place in the scenario's text
    CheckFailure check;
    std::vector<std::string> lines;  // compact JSON of the step's first lines (see StepChecker)
    std::size_t lineCount = 0;       // how many lines the step produced
};

struct RunResult {
    std::vector<StepFailure> failures;
};

// Called after a step that called into the module (callsModule) and
// produced no line besides the echo of its input, with what the host knows
// of why: "no open session holds sid 9", "URI 12345 (48|57) is not one the
// module asked for" (when the module's answer to getUris was asked for
// earlier; the same for request types), joined by "; "; empty when the host
// knows nothing to say.
using NoEffectHandler = std::function<void(const Step& step, const std::string& why)>;

// How a run treats what the scenario leaves open; the defaults are those of
// run and check.
struct RunOptions {
    // A step that needs the module while the host holds none is skipped
    // (true) or a ScenarioError (false).
    bool skipWithoutModule = false;
    // After the last step, the host lets go of what the module may still
    // hold: every session id it has named to the module leaves (while the
    // host holds the module) and is released, and id 0 last, which releases
    // a module left without sessions. Its lines follow a step line with the
    // index after the last step and the action "close".
    bool closeAll = false;
    // Called at the end of the run (after closeAll) with every session
    // object the scenario opened, before they go.
    std::function<void(standin::Session&)> eachSessionAtEnd;
    // Told of each step that had no effect (NoEffectHandler); none: nobody.
    NoEffectHandler onNoEffect;
    // Called with each step as it begins, before its step line: the step
    // lives only while it plays when the scenario is streamed.
    std::function<void(const Step&)> onStep;
};

// Plays every step in order, calling `onLine` with each trace line as it is
// produced, and evaluates each step's checks as its lines come. No line is
// kept beyond what the checks of its step need (StepChecker), so memory
// follows the largest step, not the length of the scenario. Exceptions that
// leave the module become error lines. Raises ScenarioError for a step that
// cannot be performed (see above).
RunResult runScenario(const ModuleLibrary& module, const Scenario& scenario,
                      const std::function<void(const Json&)>& onLine = {}, const RunOptions& options = {});
// The same, each step read from the scenario's text as it comes and dropped
// once played: memory follows the largest step, not the number of steps.
RunResult runScenario(const ModuleLibrary& module, const StreamedScenario& scenario,
                      const std::function<void(const Json&)>& onLine = {}, const RunOptions& options = {});

// The stand-in host's virtual clock, in ms since the process started: the
// time of a trace line when asked from `onLine`. Only an advance step moves
// it, running due tasks at their own times.
uint64_t virtualNow();

// A failure as text: where the check is (file:line:column, as compilers
// write it, so that editors go there), the scenario, the step and where it
// is, the check, where the line differs, then the step's lines indented.
std::string formatFailure(const ScenarioHead& scenario, const StepFailure& failure);
// The same as data: {"step", "action", "check", "at" and "stepAt" (each
// {"file", "line", "column"}, or null), "text", "line" (the line compared
// with, or null), "nearest", "differences": [...]}.
Json failureJson(const ScenarioHead& scenario, const StepFailure& failure);

}  // namespace sapphost
