// A DLL's entry point, as MSVC's static runtime provides it
// (_DllMainCRTStartup, lld-link's default entry for /DLL): on load the
// module's atexit table, the /GS cookie and the static constructors; on
// unload the static destructors. The modules built here define no DllMain.
#include "msvc-runtime/startup/Runtime.h"

extern "C" void __cdecl __security_init_cookie(void);

namespace {
constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;
}  // namespace

extern "C" int __stdcall _DllMainCRTStartup(void* /*instance*/, unsigned long reason, void* /*reserved*/) {
    if (reason == kProcessAttach) {
        sapp_runtime::initializeModule(true);
        __security_init_cookie();
        return sapp_runtime::runInitializers() ? 1 : 0;
    }
    if (reason == kProcessDetach) {
        sapp_runtime::runModuleExitTable();
    }
    return 1;
}
