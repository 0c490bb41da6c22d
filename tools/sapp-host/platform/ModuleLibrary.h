// Loading the module file at run time and finding its two entry points.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

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

// The toolchain family a Windows module comes from, told by its exports'
// C++ decoration and the runtimes its import table names (docs/abi.md,
// "Telling the builds apart"): MSVC's modules export "?"-decorated names
// and import vcruntime140.dll or msvcp140.dll; mingw-w64 GCC's export
// Itanium "_Z" names and import msvcrt.dll, or the UCRT in a mingw-w64
// build against it. A host of one family cannot use a module of another.
enum class ModuleFamily { Unknown, Msvc, MingwGcc, MingwGccUcrt };

// The family of the PE image `image` (a DLL's bytes); Unknown for anything
// else, a truncated or damaged image included.
ModuleFamily windowsModuleFamily(std::string_view image);

// The family this sapp-host was built by (Unknown on Linux).
ModuleFamily hostFamily();

// "MSVC (Microsoft C++ ABI, MSVC's standard library)", ...
std::string describeFamily(ModuleFamily family);

// Loads the module file and looks up getModule and releaseModule by name.
// The module stays loaded until the process ends: its singleton and the
// contexts it keeps may outlive any one call. Throws std::runtime_error with
// the system's reason when the file cannot be loaded or lacks an entry point,
// and, on Windows, before loading it, when the module comes from the other
// toolchain family than this sapp-host: its calls would reach virtual tables
// and records laid out for another ABI.
ModuleLibrary loadModule(const std::string& path);

}  // namespace sapphost
