// A broken module build for the tests of sapp-host: getModule aborts the
// process, so that `check` has a crash to report.
#include <cstdint>
#include <cstdlib>

#include "module/Export.h"

class ISession;
class ISessionMod;

extern "C" {
SAPP_API ISessionMod* getModule(ISession*) { std::abort(); }
SAPP_API void releaseModule(uint32_t) {}
}
