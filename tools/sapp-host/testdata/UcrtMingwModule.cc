// A module as mingw-w64 GCC builds it against the UCRT instead of
// msvcrt.dll: Itanium-decorated exports, the C runtime imported from the
// UCRT's api-ms-win-crt-*.dll. sapp-host must refuse it whatever its own
// family. Linked without mingw-w64's start-up files, which are built for
// msvcrt.dll; it is read, never run.
#include <cstdlib>

struct ISessionMod;

namespace ucrtprobe {
__declspec(dllexport) ISessionMod* getModuleOf(const char* name) {
    return name != nullptr && std::atoi(name) < 0 ? nullptr : nullptr;
}
}  // namespace ucrtprobe

extern "C" __declspec(dllexport) ISessionMod* getModule(const char* name) { return ucrtprobe::getModuleOf(name); }
extern "C" int __stdcall DllMainCRTStartup(void*, unsigned, void*) { return 1; }
