// soak: parses the options, loads the module and runs the soak (Soak.h).
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/soak/Soak.h"

namespace sapphost {

namespace {

uint64_t number(const std::optional<std::string>& text, const char* option, uint64_t fallback, uint64_t least,
                uint64_t most) {
    if (!text) return fallback;
    uint64_t value = 0;
    const bool digits = !text->empty() && text->size() <= 18 &&
                        std::all_of(text->begin(), text->end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) value = std::stoull(*text);
    if (!digits || value < least || value > most) {
        throw std::invalid_argument(std::string(option) + ": expected a number from " + std::to_string(least) +
                                    " to " + std::to_string(most) + ", got \"" + *text + "\"");
    }
    return value;
}

}  // namespace

int soakCommand(const Options& options) {
    const auto sessions = static_cast<uint32_t>(number(options.sessions, "--sessions", 100, 1, 100000));
    const uint64_t packets = number(options.packets, "--packets", 100000, 1, 1000000000000ull);
    const uint64_t seed = number(options.seed, "--seed", 1, 0, 999999999999999999ull);
    const auto faults = static_cast<uint32_t>(number(options.faults, "--faults", 0, 0, 100));
    ModuleLibrary module;
    try {
        module = loadModule(modulePathOf(options));
    } catch (const std::runtime_error& e) {
        std::cerr << "sapp-host soak: " << e.what() << "\n";
        return kExitBadInput;
    }
    return runSoak(module, {sessions, packets, seed, faults}) ? kExitOk : kExitFailed;
}

}  // namespace sapphost
