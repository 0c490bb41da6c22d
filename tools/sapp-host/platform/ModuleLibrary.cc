#include "tools/sapp-host/platform/ModuleLibrary.h"

#include <filesystem>
#include <system_error>

#include "tools/sapp-host/platform/Process.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

namespace sapphost {

namespace {

#if defined(SAPP_INSTALLED_MODULE)
constexpr const char* kInstalledModule = SAPP_INSTALLED_MODULE;
#else
constexpr const char* kInstalledModule = "";
#endif

#if defined(_WIN32)
constexpr const char* kModuleFile = "sapp.dll";
constexpr char kSeparators[] = "\\/";

void* openLibrary(const std::string& path, std::string& error) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (!handle) error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(handle);
}

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
#else
constexpr const char* kModuleFile = "libsapp.so";
constexpr char kSeparators[] = "/";

void* openLibrary(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) error = dlerror();
    return handle;
}

void* findSymbol(void* library, const char* name) { return dlsym(library, name); }
#endif

}  // namespace

// Beside the executable (the build tree, a Windows install); on Linux, when
// there is none, in the library folder of the install tree (bin/../lib).
std::string defaultModulePath() {
    const std::string self = selfExecutablePath();
    const std::size_t slash = self.find_last_of(kSeparators);
    if (slash == std::string::npos) return kModuleFile;
    const std::string folder = self.substr(0, slash + 1);
    const std::string beside = folder + kModuleFile;
    std::error_code error;
    if (*kInstalledModule && !std::filesystem::exists(beside, error) &&
        std::filesystem::exists(folder + kInstalledModule, error)) {
        return folder + kInstalledModule;
    }
    return beside;
}

ModuleLibrary loadModule(const std::string& path) {
    std::string error;
    void* library = openLibrary(path, error);
    if (!library) throw std::runtime_error("cannot load the module " + path + ": " + error);
    ModuleLibrary module;
    module.path = path;
    module.getModule = reinterpret_cast<ModuleLibrary::GetModuleFn>(findSymbol(library, "getModule"));
    module.releaseModule = reinterpret_cast<ModuleLibrary::ReleaseModuleFn>(findSymbol(library, "releaseModule"));
    if (!module.getModule || !module.releaseModule) {
        throw std::runtime_error("the module " + path + " does not export getModule and releaseModule");
    }
    return module;
}

}  // namespace sapphost
