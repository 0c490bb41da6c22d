#include "tools/sapp-host/cli/CommandLine.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>

#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

namespace {

int helpCommand(const Options& options);

const Command kHelpCommand = {
    "help",
    "[COMMAND]",
    "this text, or the help of COMMAND",
    "Prints the help of sapp-host, or the help of COMMAND (as COMMAND --help does).\n",
    {},
    [](const Options& options) { requireArguments(options, 0, 1, "help takes one command at most"); },
    helpCommand,
};

// Every command, in the order the help lists them.
const Command* const kCommands[] = {
    &kRunCommand,     &kCheckCommand,  &kReportCommand, &kRecordCommand,  &kDiagramCommand,    &kDecodeCommand,
    &kEncodeCommand,  &kEventsCommand, &kSoakCommand,   &kSweepCommand,  &kHelpCommand,    &kPlayOneCommand,    &kPlayTracedCommand,
    &kSweepOneCommand, &kSweepLoadCommand,
};

constexpr const char* kAbout = R"(Loads the session-app module, plays scripted sessions against it with a
stand-in host, and shows everything it sends, posts and logs.
)";

constexpr const char* kClosing = R"(Options may stand anywhere after sapp-host. sapp-host help COMMAND (or
COMMAND --help) says what a command and each of its options do;
sapp-host --version prints the version of the package it came with.
Exit status: 0 success, 1 a check failed, 2 bad input or no module.
The tool: docs/sapp-host.md; its file formats: docs/sapp-host-formats.md.
)";

// Where the summaries of the commands start in the list of commands.
constexpr std::size_t kSummaryColumn = 29;

// "run [FILE] [--json]": a command as usage lines give it, without the
// general options.
std::string synopsis(const Command& command) {
    std::string text(command.name);
    for (const std::string& part : {neededOptionsUsage(command.name), std::string(command.arguments),
                                    optionalOptionsUsage(command.name)}) {
        if (!part.empty()) text += " " + part;
    }
    return text;
}

// `line` wrapped between its parts, never inside brackets, to fit 79
// columns from column `indent`, where its continuation lines start too.
std::string wrappedParts(std::string line, std::size_t indent) {
    int depth = 0;
    for (char& c : line) {
        depth += (c == '[' || c == '(') - (c == ']' || c == ')');
        if (c == ' ' && depth > 0) c = '\x01';
    }
    line = wrapped(line, indent, 79);
    std::replace(line.begin(), line.end(), '\x01', ' ');
    return line;
}

// "usage: sapp-host [--module PATH] run [FILE] [--json]", wrapped between
// its parts, never inside brackets.
std::string usageLine(const Command& command) {
    const std::string general = generalOptionsUsage(command.name);
    constexpr std::string_view kStart = "usage: sapp-host ";
    return std::string(kStart) +
           wrappedParts((general.empty() ? "" : general + " ") + synopsis(command), kStart.size()) + "\n";
}

// "no command chek (did you mean check?)".
std::string noCommand(const std::string& name) {
    std::vector<std::string_view> names;
    for (const Command* command : kCommands) names.push_back(command->name);
    return "no command " + name + didYouMean(name, names);
}

int usageError(const std::string& message) {
    std::cout.flush();
    std::cerr << "sapp-host: " << message << "\n(sapp-host help: usage)\n";
    return kExitBadInput;
}

int helpCommand(const Options& options) {
    if (options.args.empty()) {
        std::cout << usageText();
        return kExitOk;
    }
    const Command* command = findCommand(options.args[0]);
    if (!command || isHiddenCommand(command->name)) throw UsageError(noCommand(options.args[0]));
    std::cout << helpText(*command);
    return kExitOk;
}

}  // namespace

const Command* findCommand(std::string_view name) {
    for (const Command* command : kCommands) {
        if (command->name == name) return command;
    }
    return nullptr;
}

std::string usageText() {
    std::string text = "usage: sapp-host [OPTIONS] COMMAND [ARGUMENTS]\n\n" + std::string(kAbout) + "\nCommands:\n";
    for (const Command* command : kCommands) {
        if (isHiddenCommand(command->name)) continue;
        // A long synopsis goes on over lines of its own, further in.
        std::string usage = "  " + synopsis(*command);
        if (usage.size() > 79) usage = "  " + wrappedParts(synopsis(*command), 4);
        const bool beside = usage.size() + 2 <= kSummaryColumn;
        text += usage + (beside ? std::string(kSummaryColumn - usage.size(), ' ')
                                : "\n" + std::string(kSummaryColumn, ' '));
        text += wrapped(command->summary, kSummaryColumn, 79) + "\n";
    }
    return text + "\n" + optionsHelp() + "\n" + kClosing;
}

std::string helpText(const Command& command) {
    std::string text = usageLine(command) + "\n" + std::string(command.about);
    if (const std::string options = optionsHelp(command.name); !options.empty()) text += "\n" + options;
    if (!command.more.empty()) text += "\n" + std::string(command.more);
    return text;
}

int runCommand(const Options& options) {
    try {
        const Command* command = findCommand(options.command);
        if (!command) throw UsageError(noCommand(options.command));
        checkOptions(options);
        command->checkArguments(options);
        return command->run(options);
    } catch (const UsageError& e) {
        return usageError(e.what());
    } catch (const ScenarioError& e) {
        std::cout.flush();
        std::cerr << "sapp-host " << options.command << ": bad scenario: " << e.what() << "\n";
    } catch (const std::runtime_error& e) {
        std::cout.flush();
        std::cerr << "sapp-host " << options.command << ": " << e.what() << "\n";
    }
    return kExitBadInput;
}

int runCommandLine(const std::vector<std::string>& words) {
    // The package's version (the root CMakeLists.txt's project()), which
    // the Windows binaries' version resources carry too.
    if (std::find(words.begin(), words.end(), "--version") != words.end()) {
        std::cout << "sapp-host " << SAPP_VERSION << "\n";
        return kExitOk;
    }
    bool help = false;
    Options options;
    try {
        options = parseCommandLine(words, help);
    } catch (const UsageError& e) {
        return usageError(e.what());
    }
    if (options.command.empty()) {
        std::cout << usageText();
        return help ? kExitOk : kExitBadInput;
    }
    if (help) {
        const Command* command = findCommand(options.command);
        if (!command) return usageError(noCommand(options.command));
        if (!isHiddenCommand(command->name)) {
            std::cout << helpText(*command);
            return kExitOk;
        }
    }
    return runCommand(options);
}

}  // namespace sapphost
