// sapp-host: a command-line host for the session-app module (CommandLine.h).
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/sapp-host/cli/CommandLine.h"

int main(int argc, char** argv) {
    try {
        return sapphost::runCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::cerr << "sapp-host: " << e.what() << "\n";
        return sapphost::kExitBadInput;
    }
}
