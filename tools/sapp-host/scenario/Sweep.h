// The fault sweep: every host call the module makes, made to fail, one run
// at a time.
//
// A scenario is played once without a fault, the baseline, and the
// stand-ins' watch (standin/tarnbase/HostFaults.h) notes which host calls
// each step makes. Each step that makes some calls into the module through
// one entry point: getModule, releaseModule, an ISessionMod operation, a
// session event or a task run. Then, for every such step and for every host
// call k it made, the scenario is played again from the start with that one
// call failing (it throws standin::HostFault). Each run goes on to the end
// of the scenario and then lets go of whatever the module still holds, as a
// host that shuts down (RunOptions::closeAll), and is checked:
//   - the call failed, and it is the one the baseline made there; the steps
//     before it did what they did in the baseline;
//   - a log sink call's fault is dropped: the entry point ends as in the
//     baseline, every host call but the log sink's is made as in the
//     baseline, and the lines are the baseline's but one
//     (docs/integration.md);
//   - any other call's fault leaves the entry point as that HostFault,
//     unless the step had met an exception of its own first (a teardown
//     goes on after a failed step and passes on the first exception); in
//     every step from there on, what leaves is the first exception a host
//     call threw in it, or one the module raised itself that the baseline's
//     step ended in too (SweepCheck.h);
//   - at the end no session object has a watcher or a queued task, no
//     database reference is held or released twice, and the module is
//     destroyed (its last lines are releaseModule's with the singleton's);
//   - no host call was made while an exception unwound the stack, which is
//     how a destructor's call would show (seen where module and host share
//     the C++ runtime: Linux);
//   - in a LeakSanitizer build, nothing leaked (looked at after each step's
//     runs: a look costs tens of milliseconds).
// The process surviving is the parent's check: sapp-host sweep plays each
// scenario's sweep in a process of its own and names the run a crash ended
// (SweepCommand.cc).
//
// A scenario whose steps throw without a fault (a record that does not
// decode, a `fault` step, a database that cannot be read) is swept as any
// other: each run of such a step ends in the fault or in the step's own
// exception, whichever the step met first, and the report counts both.
//
// The baseline is played twice, the first time to let the module take the
// host's log sink (it keeps the sink for the life of the process, so only
// a first line ever asks for it while the host has one). A scenario without
// a sink (host "log_sink": false) sweeps GetLogInstance, IsLogLevelEnabled
// and DoLog2 instead; the module's uplink counter moves on from run to run,
// which changes bytes sent but no call.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "standin/tarnbase/HostFaults.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

// Starts the line that names a run about to begin, on the standard output
// of a sweep's process, so that the parent can name the run a crash ended.
inline constexpr std::string_view kSweepRunTag = "sapp-host-sweep-run ";
// A line of its own, before the report: the baseline threw nothing, so the
// scenario can show a faulty load (sweepLoadCall).
inline constexpr std::string_view kSweepCleanTag = "sapp-host-sweep-clean";
// Starts a line naming a host function the baseline called
// (standin::hostCallFunction), in the calls-only mode.
inline constexpr std::string_view kSweepCallTag = "sapp-host-sweep-call ";

// A whole sweep, or only its baseline and the host functions it called.
enum class SweepMode { Runs, CallsOnly };

// Sweeps `scenario` as above. Writes to `out` each failed check as it is
// found, one line per pair of entry point and host call with its runs and
// how they ended, one per step that throws without a fault with how its
// runs ended, and the verdict; a kSweepRunTag line before each run, a
// kStepTag line as each step of each play begins (StepTag.h), and a
// kSweepCleanTag line first when the baseline threw nothing. True when
// every run passed. Throws ScenarioError for a scenario that cannot be
// played. With CallsOnly, writes a kSweepCallTag line per host function the
// baseline called instead, and runs no fault.
bool sweepScenario(const ModuleLibrary& module, const Scenario& scenario, std::ostream& out,
                   SweepMode mode = SweepMode::Runs);

// Loads the module at `path` with a watch on every host call the load
// makes, and returns them in order. Call once per process, before the
// module is loaded.
std::vector<standin::HostCall> loadWithWatch(const std::string& path, ModuleLibrary& loaded);

// Loads the module with the host call number `call` (from 0) of its load
// failing, then plays `scenario` (one that throws nothing without a fault)
// and checks that the session runs without an exception and closes
// cleanly. Call once per
// process, before the module is loaded. Writes the outcome to `out`; true
// when it passed.
bool sweepLoadCall(const std::string& path, std::size_t call, std::size_t calls, const Scenario& scenario,
                   std::ostream& out);

}  // namespace sapphost
