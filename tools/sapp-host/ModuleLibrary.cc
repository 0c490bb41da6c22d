#include "tools/sapp-host/ModuleLibrary.h"

#include "tools/sapp-host/Process.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

namespace sapphost {

namespace {

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

std::string defaultModulePath() {
    const std::string self = selfExecutablePath();
    const std::size_t slash = self.find_last_of(kSeparators);
    return slash == std::string::npos ? std::string(kModuleFile) : self.substr(0, slash + 1) + kModuleFile;
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
