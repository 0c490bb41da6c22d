// A broken module build for the tests of sapp-host's time limit: getModule
// for a session never returns (it sleeps, so as not to take a core from the
// machine); without one (getModule(nullptr)) it answers at once that it has
// no module, so a scenario that only asks that way plays to its end against
// it.
#include <cstdint>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <unistd.h>
#endif

#include "module/Export.h"

class ISession;
class ISessionMod;

extern "C" {
SAPP_API ISessionMod* getModule(ISession* session) {
    while (session) {
#if defined(_WIN32)
        Sleep(1000);
#else
        sleep(1);
#endif
    }
    return nullptr;
}
SAPP_API void releaseModule(uint32_t) {}
}
