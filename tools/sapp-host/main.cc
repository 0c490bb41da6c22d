// sapp-host: a command-line host for the session-app module. Parses the
// command line, prints help, and hands over to the command its table names.
#include <cstddef>
#include <iostream>
#include <string>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "tools/sapp-host/Commands.h"

namespace {

using sapphost::Options;

constexpr const char* kUsage = R"(usage: sapp-host [--module PATH] COMMAND [ARGS]

Loads the session-app module, plays scripted sessions against it with a
stand-in host, and shows everything it sends, posts and logs.

Commands:
  run [FILE] [--json]        play one scenario (the built-in typical session
                             without FILE) and print its trace
  check FILE|DIR... [--json] [--junit FILE] [--html FILE]
                             play scenarios, each in a process of its own,
                             and report which pass their checks
  report FILE|DIR... -o FILE.html
                             check, and write the sessions as one web page:
                             sequence diagrams, steps, checks, record bytes
  record FILE [-o OUT | --in-place]
                             play a scenario and write it back with the
                             effects observed as its expectations
  diagram [FILE]             play a scenario (the built-in typical session
                             without FILE) and print a Mermaid sequence
                             diagram of its trace
  decode (--uri URI | --record NAME) HEX [--strict]
                             print the fields of a record body as JSON
  encode (--uri URI | --record NAME) JSON
                             print the hex of a record given as fields
  soak [--sessions N] [--packets M] [--seed S] [--faults P]
                             play many sessions and packets, checking the
                             module against a model and its memory use
  sweep [FILE...] [--calls]  make every host call of a scenario fail, one
                             run each, and check what the module does
  help [COMMAND]             this text, or the help of COMMAND

Options:
  --module PATH   the module file to load (default: libsapp.so or sapp.dll
                  beside this executable)

Exit status: 0 success, 1 a check failed, 2 bad input or no module.
The tool: docs/sapp-host.md; scenario and trace formats: docs/sapp-host-formats.md.
)";

constexpr const char* kRunHelp = R"(usage: sapp-host [--module PATH] run [FILE] [--json]

Plays the scenario in FILE, or without FILE the built-in typical session
(open, user info, app query and its retry, an SDK V2 and an SDK V3 app, data
down and up for each, leave, release), and prints every effect in call
order: step, log, send, event, task, watch, answer and error lines, each
packet and request the host delivers as a recv line before the module's
lines of its step, and "no effect" under a step that called into the module
and produced nothing. Byte strings read as quoted text where every byte is
printable ASCII, otherwise as hex after 0x.

  --json   print the trace as JSON Lines (byte strings in hex; failed checks
           go to stderr)

The checks of the scenario (expect, absent, exact) are evaluated against each
step's lines, recv lines excepted; each failed check is reported with its
step and the step's lines.
Exit status: 0 all checks passed, 1 a check failed, 2 bad scenario or no
module.
)";

constexpr const char* kCheckHelp = R"(usage: sapp-host [--module PATH] check FILE|DIR... [--json] [--junit FILE]

Plays every scenario named (each *.json file of a DIR, in name order), each
in a process of its own so that no process-wide state and no crash carries
over from one to the next. The module is loaded, and the report's path
checked, before the first scenario plays. Prints one line per scenario
(PASS, FAIL, BAD for a scenario that cannot be played, CRASH with the signal
or exit status) and last "N passed, N failed". Details of failed checks go
to stderr: the check, every field where the line it is measured against
differs ("send.fields.pid: expected 7, got 6"), and the step's lines.

  --json         one JSON object per scenario (with "differences" for a
                 failed one), then {"passed": N, "failed": N}
  --junit FILE   also write a JUnit XML report to FILE: a test case per
                 scenario, failed checks as failures (the step, the fields
                 that differ, the expected and the actual lines), bad and
                 crashed scenarios as errors; the suite's timestamp and
                 hostname
  --html FILE    also write the HTML report of sapp-host report to FILE

Exit status: 0 all passed, 1 any failed, 2 bad arguments, a module that
cannot be loaded, or a report that cannot be written.
)";

constexpr const char* kReportHelp = R"(usage: sapp-host [--module PATH] report FILE|DIR... -o FILE.html [--json] [--junit FILE]

Does what check does (same output, same exit status) and writes one
self-contained web page to FILE.html that opens from disk in any current
browser, with no network: for each scenario its result and its session as a
sequence diagram (Server, Host, Module, Client, as diagram draws it), each
arrow a link to its step; for each step what the host did, every line the
module produced (send, event, log, answer, task, watch, error), and its
checks, a failed one with the fields where the line it was compared with
differs; for each record its fields as a tree beside its bytes as a hex dump,
a field's bytes lit when the field is selected and the other way round,
nested payloads opened in place. Filters: by session, by kind of line, and a
text search. The page opens on the first failing step.
(check --html FILE writes the same page.)

Exit status: 0 all passed, 1 any failed, 2 bad arguments, a module that
cannot be loaded, or a page or report that cannot be written.
)";

constexpr const char* kRecordHelp = R"(usage: sapp-host [--module PATH] record FILE [-o OUT | --in-place]

Plays the scenario in FILE and writes it back with each step's expectations
replaced by the lines the step produced ("expect": the lines, "exact": true;
"absent" is dropped; a step without lines keeps only "exact": true). Name,
description, notes, host settings, actions and step order stay as they are;
steps that do not call the module (set_sid, db, host, fault) lose their checks and
get none. The recorded lines leave out what differs between runs or
platforms: recv lines (the echo of the input) and the module's file name in
log lines. Which steps changed, and whose checks failed before, goes to
stderr. Recording a recorded scenario gives the same file.

  -o OUT       write to OUT (default: standard output)
  --in-place   overwrite FILE
(whether the file can be written there is checked before anything plays)

Read what was recorded before you commit it: a recorded trace is only as
right as the reader who checked it.
Exit status: 0 written, 2 bad scenario, no module, or the output cannot be
written (a file is replaced only when the whole new text is written).
)";

constexpr const char* kDiagramHelp = R"(usage: sapp-host [--module PATH] diagram [FILE]

Plays the scenario in FILE, or without FILE the built-in typical session,
and prints its trace as a Mermaid sequence diagram (paste it into any
Mermaid-aware viewer, or a ```mermaid block of a Markdown file). The
participants are Server, Host, Module and Client. Arrows: the host's calls
(getModule, session events, onLeave, releaseModule, the questions it asks)
and the module's answers and watcher calls; packets from the server and
client requests as delivered; the module's sends and posted events. Each is
labelled with the record or event name and its key fields: URI, app ids,
sequence number. Notes: timer tasks (add, run, remove), clock advances,
host-side changes, exceptions. Log lines are left out.

Exit status: 0 drawn, 1 drawn but a check of the scenario failed, 2 bad
scenario or no module.
)";

constexpr const char* kDecodeHelp = R"(usage: sapp-host decode (--uri URI | --record NAME) HEX [--strict]

Prints the fields of the record body given as hex (or "-" to read it from
standard input) as JSON: the record sent or received under URI, or the
record NAME, nested records included (AppInfoPack, PluginAppPackMap,
SdkV2Payload, ...). Nested payload strings are shown as objects where they
decode cleanly, otherwise as hex.

Encode turns the output back into the same bytes when they are in the one
form the records write. Bytes that decode but are not in it (a set or map
out of order or with repeated keys, a bool byte other than 0 or 1) are still
printed, with a warning on stderr naming the first field whose bytes would
change; encode then writes the canonical bytes. Bytes after the end of the
record are printed with a warning too. Bytes that run short are an error
naming the field, its first byte and how many bytes are missing.

  --strict   anything but exactly one record in canonical form is an error
             (exit 1): bytes after the record, or bytes that would change

Exit status: 0 decoded, 1 not exactly one canonical record with --strict,
2 bad hex, unknown URI or record, or truncated bytes.
)";

constexpr const char* kEncodeHelp = R"(usage: sapp-host encode (--uri URI | --record NAME) JSON

Prints the hex of the record given as JSON fields (or "-" to read them from
standard input). Omitted fields are 0 or empty; unknown fields are errors.
A nested payload may be given as an object: it is encoded, compressed with
zlib when its zipped flag is non-zero, and its length field filled in.

Exit status: 0 encoded, 2 bad fields, unknown URI or record.
)";

constexpr const char* kSoakHelp = R"(usage: sapp-host [--module PATH] soak [--sessions N] [--packets M] [--seed S] [--faults P]

Opens N sessions (default 100) and plays M packets and client requests
(default 100000) at them, chosen at random from seed S (default 1): app
notices of both services, app-platform messages of both SDK generations,
valid ones and duplicates, stale and undecodable ones, for unknown apps and
ids, both services claiming the same apps; sessions leave and new ones join
throughout. The tool keeps a model of every session's apps and checks each
packet's effects against it; client requests probe a session's proxies and
SDK versions through what the module sends.

With --faults P (0 to 100, default 0), P % of the steps also make one host
call of the step fail, drawn from those the step may make: the session's
and its queue's, the packet's, the channel database's, the user info's,
pktcore's functions and the log sink's. The host's call must receive that
exception (a log call's never: its line is dropped), the step's effects must
stop where the failing call stops the module, the registry must stay what
the model says, and a session that leaves must leave no watcher or task.
The last lines count the faults by host call.

Prints a progress line at every tenth: packets, time, throughput, sessions,
the size of the live state, the heap in use and the peak resident memory.

Fails (exit 1, with the reason) when a packet's effects differ from the
model, when a packet for one session changes another, when an app claimed by
one service is taken over by the other, when a host fault is not passed on
or leaves the module in another state, or when the heap grows faster than
the live state (at the end, its peak of the first half in proportion to the
live state's growth since, plus 10 % and 2 MiB, at most).

Exit status: 0 passed, 1 a check failed, 2 bad arguments or no module.
)";

constexpr const char* kSweepHelp = R"(usage: sapp-host [--module PATH] sweep [FILE...] [--calls]

Plays each scenario (the built-in typical session without FILE) once without
a fault and notes every host call each step makes: a step is one entry point
(getModule, releaseModule, onPacket, onRequest, onLeave, a session event, a
task run). Then, for every step and every host call it made, plays the
scenario again with that one call throwing, through to the end, and lets go
of whatever the module still holds. Every scenario is swept twice: with the
log sink as it gives it, and without a sink (every line then goes through
GetLogInstance, IsLogLevelEnabled and DoLog2). Each run is checked: a log sink call's
fault costs its line and nothing else; any other call's fault leaves the
entry point as the host's exception and no later step throws; at the end no
watcher, task or database reference is left, the module is destroyed, no
host call was made while an exception unwound (Linux), and, in a
LeakSanitizer build, nothing leaked. Last, the module is loaded with each
host call of its load failing, and the first scenario played after it.

Each scenario's sweep and each load runs in a process of its own; a process
that ends otherwise is reported with the run it was in. Prints every pair
of entry point and host call with its runs, and each failed check.

  --calls   run no fault: print the host functions the scenarios (with and
            without a sink) and the load call, one per line, as their
            declarations name them ("ISession::sendRequest"); what the
            host-call check compares with the module's imports

Exit status: 0 every run passed, 1 a run failed or a process crashed, 2 bad
scenario (also one that throws without a fault) or no module.
)";

// The arguments each command takes; each check throws std::invalid_argument.
void oneScenarioAtMost(const Options& options) {
    if (options.args.size() > 1) throw std::invalid_argument(options.command + " plays one scenario file");
}
void someScenarios(const Options& options) {
    if (options.args.empty()) throw std::invalid_argument("check needs scenario files or folders");
}
void scenariosAndOutput(const Options& options) {
    if (options.args.empty()) throw std::invalid_argument("report needs scenario files or folders");
    if (!options.output) throw std::invalid_argument("report needs -o FILE, the page to write");
}
void recordAndOne(const Options& options, const char* what) {
    if (bool(options.uri) == bool(options.record)) throw std::invalid_argument("give either --uri or --record");
    if (options.args.size() != 1) {
        throw std::invalid_argument(options.command + " takes one argument: the " + what);
    }
}
void recordAndHex(const Options& options) { recordAndOne(options, "hex"); }
void recordAndJson(const Options& options) { recordAndOne(options, "JSON"); }
void noArguments(const Options& options) {
    if (!options.args.empty()) throw std::invalid_argument(options.command + " takes no arguments, only options");
}
void oneScenario(const Options& options) {
    if (options.args.size() != 1) throw std::invalid_argument("one scenario file expected");
}
void anyScenarios(const Options&) {}
void variantAndScenario(const Options& options) {
    if (options.args.empty() || options.args.size() > 2) {
        throw std::invalid_argument("the sweep's variant and at most one scenario file expected");
    }
}
void loadCallAndScenario(const Options& options) {
    if (options.args.size() < 2 || options.args.size() > 3) {
        throw std::invalid_argument("the call's number, the count of calls and at most one scenario file expected");
    }
}
void oneScenarioToRecord(const Options& options) {
    if (options.args.size() != 1) throw std::invalid_argument("record takes one scenario file");
    if (options.output && options.inPlace) throw std::invalid_argument("give either -o or --in-place");
}

struct Command {
    std::string_view name;
    const char* help;  // null for the hidden mode, which has no help and takes no option checks
    std::string_view options;  // the options of this command, each followed by a space
    void (*checkArguments)(const Options&);
    int (*run)(const Options&);
};

const Command kCommands[] = {
    {"run", kRunHelp, "--json ", oneScenarioAtMost, sapphost::runCommand},
    {"check", kCheckHelp, "--json --junit --html ", someScenarios, sapphost::checkCommand},
    {"report", kReportHelp, "-o --json --junit ", scenariosAndOutput, sapphost::reportCommand},
    {"record", kRecordHelp, "-o --in-place ", oneScenarioToRecord, sapphost::recordCommand},
    {"diagram", kDiagramHelp, "", oneScenarioAtMost, sapphost::diagramCommand},
    {"decode", kDecodeHelp, "--uri --record --strict ", recordAndHex, sapphost::decodeCommand},
    {"encode", kEncodeHelp, "--uri --record ", recordAndJson, sapphost::encodeCommand},
    {"soak", kSoakHelp, "--sessions --packets --seed --faults ", noArguments, sapphost::soakCommand},
    {"sweep", kSweepHelp, "--calls ", anyScenarios, sapphost::sweepCommand},
    {sapphost::kSweepOneCommand, nullptr, "", variantAndScenario, sapphost::sweepOneCommand},
    {sapphost::kSweepLoadCommand, nullptr, "", loadCallAndScenario, sapphost::sweepLoadCommand},
    {sapphost::kPlayOneCommand, nullptr, "", oneScenario, sapphost::playOneCommand},
    {sapphost::kPlayTracedCommand, nullptr, "", oneScenario, sapphost::playOneCommand},
};

bool takes(const Command& command, const std::string& option) {
    return command.options.find(option + " ") != std::string_view::npos;
}

const Command* findCommand(std::string_view name) {
    for (const Command& command : kCommands) {
        if (command.name == name) return &command;
    }
    return nullptr;
}

// The help of a command that has one.
const char* helpFor(std::string_view name) {
    const Command* command = findCommand(name);
    return command ? command->help : nullptr;
}

// "run and check": the commands with help that take an option.
std::string commandsTaking(const std::string& option) {
    std::vector<std::string_view> names;
    for (const Command& command : kCommands) {
        if (command.help && takes(command, option)) names.push_back(command.name);
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + std::string(names[i]);
    }
    return text;
}

int usageError(const std::string& message) {
    std::cerr << "sapp-host: " << message << "\n(sapp-host help: usage)\n";
    return sapphost::kExitBadInput;
}

int dispatch(int argc, char** argv) {
    Options options;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(std::string(name) + " needs a value");
            return argv[++i];
        };
        const bool option = arg.size() > 1 && arg[0] == '-' && arg != "-";
        if (option && arg != "--help" && arg != "-h" && arg != "--module") options.given.push_back(arg);
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--strict") {
            options.strict = true;
        } else if (arg == "--module") {
            options.modulePath = value("--module");
        } else if (arg == "--uri") {
            options.uri = value("--uri");
        } else if (arg == "--record") {
            options.record = value("--record");
        } else if (arg == "-o") {
            options.output = value("-o");
        } else if (arg == "--in-place") {
            options.inPlace = true;
        } else if (arg == "--junit") {
            options.junit = value("--junit");
        } else if (arg == "--html") {
            options.html = value("--html");
        } else if (arg == "--sessions") {
            options.sessions = value("--sessions");
        } else if (arg == "--packets") {
            options.packets = value("--packets");
        } else if (arg == "--seed") {
            options.seed = value("--seed");
        } else if (arg == "--faults") {
            options.faults = value("--faults");
        } else if (arg == "--calls") {
            options.calls = true;
        } else if (option) {
            throw std::invalid_argument("unknown option " + arg);
        } else if (options.command.empty()) {
            options.command = arg;
        } else {
            options.args.push_back(arg);
        }
    }

    if (options.command.empty() || options.command == "help") {
        const char* text = options.args.empty() ? kUsage : helpFor(options.args[0]);
        if (!text) return usageError("no command " + options.args[0]);
        std::cout << text;
        return options.command.empty() && !help ? sapphost::kExitBadInput : sapphost::kExitOk;
    }
    const Command* command = findCommand(options.command);
    if (!command) return usageError("no command " + options.command);
    if (command->help) {
        if (help) {
            std::cout << command->help;
            return sapphost::kExitOk;
        }
        for (const std::string& option : options.given) {
            if (!takes(*command, option)) {
                throw std::invalid_argument(option + " is an option of " + commandsTaking(option));
            }
        }
    }
    command->checkArguments(options);
    return command->run(options);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return dispatch(argc, argv);
    } catch (const std::invalid_argument& e) {
        return usageError(e.what());
    } catch (const std::exception& e) {
        std::cerr << "sapp-host: " << e.what() << "\n";
        return sapphost::kExitBadInput;
    }
}
