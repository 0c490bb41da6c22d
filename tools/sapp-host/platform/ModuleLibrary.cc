#include "tools/sapp-host/platform/ModuleLibrary.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

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

namespace {

// Little-endian reads that fail instead of reading past the image.
std::optional<uint32_t> read32(std::string_view image, std::size_t at) {
    if (at > image.size() || image.size() - at < 4) return std::nullopt;
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(image[at + i]);
    return value;
}

std::optional<uint16_t> read16(std::string_view image, std::size_t at) {
    if (at > image.size() || image.size() - at < 2) return std::nullopt;
    return static_cast<uint16_t>(static_cast<unsigned char>(image[at]) |
                                 (static_cast<unsigned char>(image[at + 1]) << 8));
}

// The file offset of a relative virtual address, through the section table.
std::optional<std::size_t> fileOffset(std::string_view image, std::size_t sections, unsigned count, uint32_t rva) {
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t header = sections + 40 * std::size_t{i};
        const auto virtualSize = read32(image, header + 8);
        const auto virtualAddress = read32(image, header + 12);
        const auto rawSize = read32(image, header + 16);
        const auto rawPointer = read32(image, header + 20);
        if (!virtualSize || !virtualAddress || !rawSize || !rawPointer) return std::nullopt;
        const uint32_t size = (std::max)(*virtualSize, *rawSize);  // (parenthesised: <windows.h>)
        if (rva >= *virtualAddress && rva - *virtualAddress < size) {
            return std::size_t{*rawPointer} + (rva - *virtualAddress);
        }
    }
    return std::nullopt;
}

// The names of the DLLs a PE32+ image imports, lower-cased; nullopt when
// the image is not one or its import table cannot be read.
std::optional<std::vector<std::string>> importedDlls(std::string_view image) {
    if (image.substr(0, 2) != "MZ") return std::nullopt;
    const auto pe = read32(image, 0x3C);
    if (!pe || *pe > image.size() || image.substr(*pe, 4) != std::string_view("PE\0\0", 4)) return std::nullopt;
    const auto sectionCount = read16(image, *pe + 6);
    const auto optionalSize = read16(image, *pe + 20);
    const std::size_t optional = std::size_t{*pe} + 24;
    if (!sectionCount || !optionalSize || read16(image, optional) != uint16_t{0x20B}) return std::nullopt;
    // The import table is the second data directory, after 112 bytes of
    // the PE32+ optional header and the export table's 8.
    const auto importRva = read32(image, optional + 112 + 8);
    if (!importRva || *optionalSize < 112 + 16) return std::nullopt;
    const std::size_t sections = optional + *optionalSize;
    std::vector<std::string> dlls;
    if (*importRva == 0) return dlls;
    auto descriptor = fileOffset(image, sections, *sectionCount, *importRva);
    if (!descriptor) return std::nullopt;
    // 20-byte descriptors up to an all-zero one; the name's RVA at 12.
    for (std::size_t at = *descriptor;; at += 20) {
        const auto nameRva = read32(image, at + 12);
        if (!nameRva) return std::nullopt;
        if (*nameRva == 0) break;
        const auto name = fileOffset(image, sections, *sectionCount, *nameRva);
        if (!name || *name >= image.size()) return std::nullopt;
        const std::size_t end = image.find('\0', *name);
        if (end == std::string_view::npos) return std::nullopt;
        std::string dll(image.substr(*name, end - *name));
        std::transform(dll.begin(), dll.end(), dll.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        dlls.push_back(std::move(dll));
        if (dlls.size() > 4096) return std::nullopt;  // no table is that long
    }
    return dlls;
}

}  // namespace

ModuleFamily windowsModuleFamily(std::string_view image) {
    const auto dlls = importedDlls(image);
    if (!dlls) return ModuleFamily::Unknown;
    const auto imports = [&](std::string_view dll) { return std::find(dlls->begin(), dlls->end(), dll) != dlls->end(); };
    if (imports("vcruntime140.dll") || imports("msvcp140.dll") || imports("ucrtbase.dll")) return ModuleFamily::Msvc;
    if (imports("msvcrt.dll")) return ModuleFamily::MingwGcc;
    return ModuleFamily::Unknown;
}

ModuleFamily hostFamily() {
#if defined(_MSC_VER)
    return ModuleFamily::Msvc;
#elif defined(__MINGW32__)
    return ModuleFamily::MingwGcc;
#else
    return ModuleFamily::Unknown;
#endif
}

std::string describeFamily(ModuleFamily family) {
    switch (family) {
        case ModuleFamily::Msvc: return "MSVC (Microsoft C++ ABI, MSVC's standard library, the UCRT)";
        case ModuleFamily::MingwGcc: return "mingw-w64 GCC (Itanium C++ ABI, libstdc++, msvcrt.dll)";
        case ModuleFamily::Unknown: break;
    }
    return "an unknown toolchain";
}

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
    if (hostFamily() != ModuleFamily::Unknown) {
        std::ifstream file(path, std::ios::binary);
        const std::string image{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        const ModuleFamily family = windowsModuleFamily(image);
        if (family != ModuleFamily::Unknown && family != hostFamily()) {
            throw std::runtime_error("the module " + path + " is built by " + describeFamily(family) +
                                     ", this sapp-host by " + describeFamily(hostFamily()) +
                                     ": a host can only use a module of its own toolchain family; "
                                     "take the sapp.dll of the same package (docs/abi.md)");
        }
    }
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
