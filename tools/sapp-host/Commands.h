// The commands of sapp-host. Each returns the process exit status:
// 0 success, 1 a check failed, 2 bad input (usage, scenario, record, hex)
// or a module that cannot be loaded.
#pragma once

#include <optional>
#include <string>
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
    std::vector<std::string> args;
};

int runCommand(const Options& options);
int checkCommand(const Options& options);
int decodeCommand(const Options& options);
int encodeCommand(const Options& options);
// The hidden mode `check` starts for each scenario: plays one file and
// reports the outcome on standard output for the parent process.
int playOneCommand(const Options& options);

// The hidden command name of playOneCommand.
inline constexpr const char* kPlayOneCommand = "__play-one";

}  // namespace sapphost
