// The soak's reading of what the module did: the stand-in session's
// recorded entries as the same lines the model predicts (SoakModel.h).
#pragma once

#include <string>

#include "marshal/Errors.h"
#include "standin/pktcore/StandinSession.h"
#include "tools/sapp-host/soak/SoakModel.h"

namespace sapphost::soak {

// What leaves a call into the module: nothing, a decoding error, or the
// host's own injected fault.
enum class Thrown { Nothing, UnpackError, HostFault };
const char* thrownName(Thrown thrown);

template <typename F>
Thrown callModule(F&& call) {
    try {
        call();
    } catch (const pakt::UnpackError&) {
        return Thrown::UnpackError;
    } catch (const standin::HostFault&) {
        return Thrown::HostFault;
    }
    return Thrown::Nothing;
}

// A posted event or a sent app message as a line; empty for everything the
// soak does not compare (task and watcher calls, host faults, the app and
// announce queries).
std::string effectLine(const standin::Entry& entry);

// The lines for a failure message, "; "-separated, or "(nothing)".
std::string joined(const Effects& lines);

// Names an app that the session service owns and an app-platform message
// added or removed, if `actual` shows one (as the start of a failure
// message); empty otherwise.
std::string takenOver(const RegistryModel& model, const Effects& actual);

}  // namespace sapphost::soak
