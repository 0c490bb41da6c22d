// The soak: many sessions, many packets and requests against the module,
// every effect checked against a model of the sessions' apps, the memory
// watched, and, when asked, host calls made to fail at random (Soak.cc says
// what is checked; docs/sapp-host.md and docs/robustness.md how it is run).
#pragma once

#include <cstdint>

#include "tools/sapp-host/platform/ModuleLibrary.h"

namespace sapphost {

struct SoakSettings {
    uint32_t sessions = 100;
    uint64_t steps = 100000;  // packets and requests
    uint64_t seed = 1;
    uint32_t faultPercent = 0;  // steps that make one host call fail
};

// Plays the soak; true when every check passed, false (with the reason on
// stderr) when one did not.
bool runSoak(const ModuleLibrary& module, const SoakSettings& settings);

}  // namespace sapphost
