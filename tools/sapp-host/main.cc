// sapp-host: a command-line host for the session-app module. Parses the
// command line, prints help, and hands over to the commands.
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "tools/sapp-host/Commands.h"

namespace {

using sapphost::Options;

constexpr const char* kUsage = R"(usage: sapp-host [--module PATH] COMMAND [ARGS]

Loads the session-app module, plays scripted sessions against it with a
stand-in host, and shows everything it sends, posts and logs.

Commands:
  run [FILE] [--json]        play one scenario (the built-in typical session
                             without FILE) and print its trace
  check FILE|DIR... [--json] play scenarios, each in a process of its own,
                             and report which pass their checks
  decode (--uri URI | --record NAME) HEX
                             print the fields of a record body as JSON
  encode (--uri URI | --record NAME) JSON
                             print the hex of a record given as fields
  help [COMMAND]             this text, or the help of COMMAND

Options:
  --module PATH   the module file to load (default: libsapp.so or sapp.dll
                  beside this executable)

Exit status: 0 success, 1 a check failed, 2 bad input or no module.
Scenario and trace formats: docs/sapp-host.md.
)";

constexpr const char* kRunHelp = R"(usage: sapp-host [--module PATH] run [FILE] [--json]

Plays the scenario in FILE, or without FILE the built-in typical session
(open, user info, app query and its retry, an SDK V2 and an SDK V3 app, data
down and up for each, leave, release), and prints every effect in call
order: step, log, send, event, task, watch, answer and error lines.

  --json   print the trace as JSON Lines (failed checks go to stderr)

The checks of the scenario (expect, absent, exact) are evaluated; each failed
check is reported with its step and the step's lines.
Exit status: 0 all checks passed, 1 a check failed, 2 bad scenario or no
module.
)";

constexpr const char* kCheckHelp = R"(usage: sapp-host [--module PATH] check FILE|DIR... [--json]

Plays every scenario named (each *.json file of a DIR, in name order), each
in a process of its own so that no process-wide state and no crash carries
over from one to the next. Prints one line per scenario (PASS, FAIL, BAD for
a scenario that cannot be played, CRASH with the signal or exit status) and
last "N passed, N failed". Details of failed checks go to stderr.

  --json   one JSON object per scenario, then {"passed": N, "failed": N}

Exit status: 0 all passed, 1 any failed, 2 bad arguments or no module.
)";

constexpr const char* kDecodeHelp = R"(usage: sapp-host decode (--uri URI | --record NAME) HEX

Prints the fields of the record body given as hex (or "-" to read it from
standard input) as JSON: the record sent or received under URI, or the
record NAME, nested records included (AppInfoPack, PluginAppPackMap,
SdkV2Payload, ...). Nested payload strings are shown as objects where they
decode cleanly, otherwise as hex; encode turns the output back into the
same bytes.

Exit status: 0 decoded, 2 bad hex, unknown URI or record, or truncated bytes.
)";

constexpr const char* kEncodeHelp = R"(usage: sapp-host encode (--uri URI | --record NAME) JSON

Prints the hex of the record given as JSON fields (or "-" to read them from
standard input). Omitted fields are 0 or empty; unknown fields are errors.
A nested payload may be given as an object: it is encoded, compressed with
zlib when its zipped flag is non-zero, and its length field filled in.

Exit status: 0 encoded, 2 bad fields, unknown URI or record.
)";

const char* helpFor(std::string_view command) {
    if (command == "run") return kRunHelp;
    if (command == "check") return kCheckHelp;
    if (command == "decode") return kDecodeHelp;
    if (command == "encode") return kEncodeHelp;
    return nullptr;
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
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--module") {
            options.modulePath = value("--module");
        } else if (arg == "--uri") {
            options.uri = value("--uri");
        } else if (arg == "--record") {
            options.record = value("--record");
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            throw std::invalid_argument("unknown option " + arg);
        } else if (options.command.empty()) {
            options.command = arg;
        } else {
            options.args.push_back(arg);
        }
    }

    const std::string& command = options.command;
    if (command.empty() || command == "help") {
        const char* text = options.args.empty() ? kUsage : helpFor(options.args[0]);
        if (!text) return usageError("no command " + options.args[0]);
        std::cout << text;
        return command.empty() && !help ? sapphost::kExitBadInput : sapphost::kExitOk;
    }
    if (command == sapphost::kPlayOneCommand) {
        if (options.args.size() != 1) throw std::invalid_argument("one scenario file expected");
        return sapphost::playOneCommand(options);
    }
    const char* text = helpFor(command);
    if (!text) return usageError("no command " + command);
    if (help) {
        std::cout << text;
        return sapphost::kExitOk;
    }

    const bool codec = command == "decode" || command == "encode";
    if (options.json && codec) throw std::invalid_argument("--json is an option of run and check");
    if ((options.uri || options.record) && !codec) {
        throw std::invalid_argument("--uri and --record are options of decode and encode");
    }
    if (command == "run") {
        if (options.args.size() > 1) throw std::invalid_argument("run plays one scenario file");
        return sapphost::runCommand(options);
    }
    if (command == "check") {
        if (options.args.empty()) throw std::invalid_argument("check needs scenario files or folders");
        return sapphost::checkCommand(options);
    }
    if (bool(options.uri) == bool(options.record)) throw std::invalid_argument("give either --uri or --record");
    if (options.args.size() != 1) {
        throw std::invalid_argument(command + " takes one argument: the " + (command == "decode" ? "hex" : "JSON"));
    }
    return command == "decode" ? sapphost::decodeCommand(options) : sapphost::encodeCommand(options);
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
