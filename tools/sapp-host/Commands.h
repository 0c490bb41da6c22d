// The commands of sapp-host. Each returns the process exit status:
// 0 success, 1 a check failed, 2 bad input (usage, scenario, record, hex)
// or a module that cannot be loaded. main.cc dispatches to them from its
// table of commands, after checking their arguments.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sapphost {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadInput = 2;

struct Options {
    std::string command;
    std::string modulePath;  // empty: the module beside the executable
    bool json = false;
    std::optional<std::string> uri;
    std::optional<std::string> record;
    std::optional<std::string> output;  // record -o
    bool inPlace = false;               // record --in-place
    std::optional<std::string> junit;   // check --junit
    std::optional<std::string> html;    // check --html
    bool strict = false;  // decode: input not in canonical form is an error
    // soak: counts and seed as given
    std::optional<std::string> sessions;
    std::optional<std::string> packets;
    std::optional<std::string> seed;
    std::optional<std::string> faults;
    bool calls = false;  // sweep: list the host functions called, run no fault
    std::vector<std::string> given;  // the options on the command line, in order
    std::vector<std::string> args;
};

int runCommand(const Options& options);      // RunCommand.cc
int checkCommand(const Options& options);    // CheckCommand.cc
// check with its HTML report written to -o (Report.h).
int reportCommand(const Options& options);   // CheckCommand.cc
int decodeCommand(const Options& options);   // DecodeCommand.cc
int encodeCommand(const Options& options);   // EncodeCommand.cc
int recordCommand(const Options& options);   // RecordCommand.cc
int diagramCommand(const Options& options);  // DiagramCommand.cc
int soakCommand(const Options& options);     // SoakCommand.cc
int sweepCommand(const Options& options);    // SweepCommand.cc
// The hidden mode `check` starts for each scenario: plays one file and
// reports the outcome on standard output for the parent process
// (PlayOneCommand.cc).
int playOneCommand(const Options& options);

// The hidden modes sweep starts: one scenario's sweep, and the load with
// one of its host calls failing (SweepCommand.cc).
int sweepOneCommand(const Options& options);
int sweepLoadCommand(const Options& options);
inline constexpr const char* kSweepOneCommand = "__sweep-one";
inline constexpr const char* kSweepLoadCommand = "__sweep-load";

// The hidden command names of playOneCommand: without and with the trace.
inline constexpr const char* kPlayOneCommand = "__play-one";
inline constexpr const char* kPlayTracedCommand = "__play-one-traced";
// Marks each trace line that the traced mode prints, as compact JSON, before
// its report.
inline constexpr std::string_view kTraceTag = "sapp-host-line ";
// Marks the child's report among whatever else reaches its standard output:
// the tag, then one JSON object {"name", "failures": [...], "differences":
// [...] (beside each failure, failureDifferences of Runner.h), "error"}.
inline constexpr std::string_view kReportTag = "sapp-host-report ";

struct Scenario;

// Shared by the commands (Commands.cc).
// The scenario file given as the first argument, or the built-in typical
// session without one. Throws ScenarioError.
Scenario scenarioArgument(const Options& options);
// Runs `body` and returns its exit status; a bad scenario or another
// runtime error is reported on stderr ("sapp-host COMMAND: ...") and gives
// kExitBadInput.
int reportingErrors(const Options& options, const std::function<int()>& body);
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
