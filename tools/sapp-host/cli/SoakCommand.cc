// soak: the soak's options, the module, and the soak itself (Soak.h).
#include <cstdint>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/soak/Soak.h"

namespace sapphost {

namespace {

int soakCommand(const Options& options) {
    const auto sessions = static_cast<uint32_t>(options.number("--sessions"));
    const uint64_t packets = options.number("--packets");
    const uint64_t seed = options.number("--seed");
    const auto faults = static_cast<uint32_t>(options.number("--faults"));
    const ModuleLibrary module = loadModule(modulePathOf(options));
    return runSoak(module, {sessions, packets, seed, faults}) ? kExitOk : kExitFailed;
}

}  // namespace

const Command kSoakCommand = {
    "soak",
    "",
    "play many sessions and packets, checking the module against a model and its memory use",
    R"(Opens N sessions and plays M packets and client requests at them, chosen
at random from seed S: app notices of both services, app-platform messages
of both SDK generations, valid ones and duplicates, stale and undecodable
ones, for unknown apps and ids, both services claiming the same apps;
sessions leave and new ones join throughout. The tool keeps a model of
every session's apps and checks each packet's effects against it; client
requests probe a session's proxies and SDK versions through what the module
sends.

With --faults P, P % of the steps also make one host call of the step fail,
drawn from those the step may make: the session's and its queue's, the
packet's, the channel database's, the user info's, pktcore's functions and
the log sink's. The host's call must receive that exception (a log call's
never: its line is dropped), the step's effects must stop where the failing
call stops the module, the registry must stay what the model says, and a
session that leaves must leave no watcher or task. The last lines count the
faults by host call.

Prints a progress line at every tenth: packets, time, throughput, sessions,
the size of the live state, the heap in use and the peak resident memory.
)",
    R"(Fails (exit 1, with the reason) when a packet's effects differ from the
model, when a packet for one session changes another, when an app claimed by
one service is taken over by the other, when a host fault is not passed on
or leaves the module in another state, or when the heap grows faster than
the live state (at the end, its peak of the first half in proportion to the
live state's growth since, plus 10 % and 2 MiB, at most).

Exit status: 0 passed, 1 a check failed, 2 bad arguments or no module.
)",
    [](const Options& options) { requireArguments(options, 0, 0, "soak takes no arguments, only options"); },
    soakCommand,
};

}  // namespace sapphost
