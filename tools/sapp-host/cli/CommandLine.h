// sapp-host's command line: the table of commands (CommandLine.cc), the
// help made from it and from the option table (Options.h), and the one
// error path every command runs in.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/sapp-host/cli/Commands.h"

namespace sapphost {

// The command named `name`, hidden ones included; null for none.
const Command* findCommand(std::string_view name);

// The help of sapp-host: what it is and its commands, each with its usage.
std::string usageText();
// The help of `command`: its usage, what it does, its options.
std::string helpText(const Command& command);

// Runs the command that `options` name, in the one error path: its options
// and arguments are checked first, and whatever it throws is reported on
// stderr with exit status 2: a UsageError as "sapp-host: ..." with a
// pointer to the help, a ScenarioError as "sapp-host COMMAND: bad scenario:
// ...", any other std::runtime_error as "sapp-host COMMAND: ...". Other
// exceptions are faults of sapp-host and leave it.
int runCommand(const Options& options);

// The whole command line (without the program's name): --help and help,
// then runCommand.
int runCommandLine(const std::vector<std::string>& words);

}  // namespace sapphost
