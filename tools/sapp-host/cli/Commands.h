// The commands of sapp-host, each a row (Command) in a file of its own
// (RunCommand.cc, ...) with its help, the check of its arguments and its
// body, and what the commands share. CommandLine.cc lists them and runs each
// in the one error path (CommandLine.h); their options are rows of the
// option table (Options.h).
//
// A command returns its exit status: 0 success, 1 a check failed. It reports
// anything else by throwing, which gives exit status 2: UsageError for the
// command line, ScenarioError for a scenario, and any other
// std::runtime_error for bad input (InputError), an output that cannot be
// written or a module that cannot be loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sapp-host/cli/Options.h"

namespace sapphost {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadInput = 2;

struct Command {
    std::string_view name;
    std::string_view arguments;  // in usage lines: "[FILE]", "FILE|DIR..."
    std::string_view summary;    // its entry in the list of commands
    std::string_view about;      // its help, before the options
    std::string_view more;       // its help after the options: exit status, notes
    // Throws UsageError when the arguments (Options::args) do not fit.
    void (*checkArguments)(const Options& options);
    int (*run)(const Options& options);
};

extern const Command kRunCommand;      // RunCommand.cc
extern const Command kCheckCommand;    // CheckCommand.cc
extern const Command kReportCommand;   // CheckCommand.cc: check with its HTML report (Report.h)
extern const Command kRecordCommand;   // RecordCommand.cc
extern const Command kDiagramCommand;  // DiagramCommand.cc
extern const Command kDecodeCommand;   // DecodeCommand.cc
extern const Command kEncodeCommand;   // EncodeCommand.cc
extern const Command kEventsCommand;   // EventsCommand.cc
extern const Command kSoakCommand;     // SoakCommand.cc
extern const Command kSweepCommand;    // SweepCommand.cc
// The hidden modes that sweep starts (SweepCommand.cc): one scenario's
// sweep, and the module's load with one of its host calls failing.
extern const Command kSweepOneCommand;
extern const Command kSweepLoadCommand;
// The hidden modes that check starts for each scenario (PlayOneCommand.cc):
// each plays one file and reports the outcome on standard output for the
// parent process, the traced one every trace line first.
extern const Command kPlayOneCommand;
extern const Command kPlayTracedCommand;

// Marks each trace line that the traced mode prints before its report: the
// tag, the virtual time of the line in ms (virtualNow of Runner.h), a space
// and the line as compact JSON.
inline constexpr std::string_view kTraceTag = "sapp-host-line ";
// Marks the child's report among whatever else reaches its standard output:
// the tag, then one JSON object {"name", "failures": [...], "differences":
// [...] (beside each failure, its failureJson of Runner.h), "error"}.
inline constexpr std::string_view kReportTag = "sapp-host-report ";

struct ChildResult;
struct Scenario;
struct ScenarioOutcome;
struct TracedLine;

// What sweep makes of one of its processes (SweepCommand.cc): it writes the
// process's report to `out`, its tagged lines left out, and says how it
// ended: passed, failed, or bad input (its reason is on standard error
// already). A process that crashed, or was stopped at its time limit, is
// named with the step its last play had reached and its last run ("CRASH at
// step 5 (leave)  what: ... during the run of step 3 (onPacket), call 2 of 4
// (getSid)"; `runs`: the process sweeps a scenario, whose first plays have
// no fault) and counts as failed.
struct SweepRelay {
    int status = 0;
    bool clean = false;  // the scenario threw nothing without a fault (kSweepCleanTag)
};
SweepRelay relaySweepProcess(const ChildResult& child, const std::string& what, bool runs, std::ostream& out);

// Plays the scenario `file` (the built-in session when empty) against the
// module at `module` in a process of its own (the hidden single-scenario
// mode, started from `self`), stopped after `timeoutSeconds` (0: no limit),
// and says how it went: passed, failed with its checks, bad, crashed or
// timed out, the last two with the step its process had reached. With
// `trace`, the traced mode, whose trace lines it fills in (CheckCommand.cc).
ScenarioOutcome playScenarioInChild(const std::string& self, const std::string& module, const std::string& file,
                                    uint64_t timeoutSeconds, std::vector<TracedLine>* trace = nullptr);
class StreamedScenario;

// Shared by the commands (Commands.cc).
// Throws UsageError with `message` unless there are `least` to `most`
// arguments (kAnyNumber: no most).
inline constexpr std::size_t kAnyNumber = std::numeric_limits<std::size_t>::max();
void requireArguments(const Options& options, std::size_t least, std::size_t most, const char* message);
// The scenario file given as the first argument, or the built-in typical
// session without one. Throws ScenarioError.
Scenario scenarioArgument(const Options& options);
// The same, to be played a step at a time (StreamedScenario).
StreamedScenario streamedScenarioArgument(const Options& options);
// The scenario files named: files as given, folders as their *.json files
// in name order. Throws std::runtime_error for a name that is neither, or a
// folder without a scenario.
std::vector<std::string> scenarioFiles(const std::vector<std::string>& args);
// The module file to load: --module, or the one beside this executable.
std::string modulePathOf(const Options& options);
// Throws std::runtime_error naming `path` and the reason when no output
// file can be written there (its folder missing, not writable, or `path` a
// folder): checked before a command runs anything.
void checkOutputPath(const std::string& path);
// Writes `text` to the file at `path`, replacing it only once the whole text
// is written (through a temporary file beside it). Throws
// std::runtime_error naming the file and the reason.
void writeFileReplacing(const std::string& path, const std::string& text);
// The text of an argument, or standard input for "-".
std::string argumentText(const std::string& arg);
// The record named by --record, or the one carried under --uri. Throws
// InputError for an unknown record or a URI that carries none.
std::string recordOf(const Options& options);

}  // namespace sapphost
