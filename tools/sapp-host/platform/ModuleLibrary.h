// Loading the module file at run time and finding its two entry points.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class ISession;
class ISessionMod;

namespace sapphost {

struct ModuleLibrary {
    using GetModuleFn = ISessionMod* (*)(ISession*);
    using ReleaseModuleFn = void (*)(uint32_t);

    std::string path;
    GetModuleFn getModule = nullptr;
    ReleaseModuleFn releaseModule = nullptr;
};

// The module built beside this executable: libsapp.so, or sapp.dll on
// Windows, in the executable's folder; on Linux, when there is none there,
// the one in the install tree's library folder (bin/../lib).
std::string defaultModulePath();

// Loads the module file and looks up getModule and releaseModule by name.
// The module stays loaded until the process ends: its singleton and the
// contexts it keeps may outlive any one call. Throws std::runtime_error with
// the system's reason when the file cannot be loaded or lacks an entry point.
ModuleLibrary loadModule(const std::string& path);

}  // namespace sapphost
