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

// A PE32+ image's headers, read once: where its section table is and how
// to reach what its data directories point at. Every read is checked
// against the image's size, so a damaged image reads as no image.
class PeImage {
public:
    static std::optional<PeImage> of(std::string_view image) {
        if (image.substr(0, 2) != "MZ") return std::nullopt;
        const auto pe = read32(image, 0x3C);
        if (!pe || *pe > image.size() || image.substr(*pe, 4) != std::string_view("PE\0\0", 4)) return std::nullopt;
        const auto sectionCount = read16(image, *pe + 6);
        const auto optionalSize = read16(image, *pe + 20);
        const std::size_t optional = std::size_t{*pe} + 24;
        if (!sectionCount || !optionalSize || read16(image, optional) != uint16_t{0x20B}) return std::nullopt;
        return PeImage(image, optional, *optionalSize, *sectionCount);
    }

    // The RVA data directory `index` points at (0 the export table, 1 the
    // import table), 0 when the image has none; nullopt when the optional
    // header is too short to hold it. The directories follow the PE32+
    // optional header's first 112 bytes, 8 bytes each.
    std::optional<uint32_t> directory(std::size_t index) const {
        const std::size_t at = 112 + 8 * index;
        if (optionalSize_ < at + 8) return std::nullopt;
        return read32(image_, optional_ + at);
    }

    // The file offset of an RVA, through the section table.
    std::optional<std::size_t> offset(uint32_t rva) const {
        return fileOffset(image_, optional_ + optionalSize_, sectionCount_, rva);
    }

    // The zero-terminated name at an RVA.
    std::optional<std::string_view> name(uint32_t rva) const {
        const auto at = offset(rva);
        if (!at || *at >= image_.size()) return std::nullopt;
        const std::size_t end = image_.find('\0', *at);
        if (end == std::string_view::npos) return std::nullopt;
        return image_.substr(*at, end - *at);
    }

    std::optional<uint32_t> read(std::size_t at) const { return read32(image_, at); }

private:
    PeImage(std::string_view image, std::size_t optional, uint16_t optionalSize, uint16_t sectionCount)
        : image_(image), optional_(optional), optionalSize_(optionalSize), sectionCount_(sectionCount) {}

    std::string_view image_;
    std::size_t optional_;
    uint16_t optionalSize_;
    uint16_t sectionCount_;
};

// No table of a real DLL is longer; a longer one is a damaged image.
constexpr std::size_t kMostNames = 1 << 16;

// The names of the DLLs an image imports, lower-cased; nullopt when the
// import table cannot be read.
std::optional<std::vector<std::string>> importedDlls(const PeImage& pe) {
    const auto importRva = pe.directory(1);
    if (!importRva) return std::nullopt;
    std::vector<std::string> dlls;
    if (*importRva == 0) return dlls;
    const auto descriptor = pe.offset(*importRva);
    if (!descriptor) return std::nullopt;
    // 20-byte descriptors up to an all-zero one; the name's RVA at 12.
    for (std::size_t at = *descriptor;; at += 20) {
        const auto nameRva = pe.read(at + 12);
        if (!nameRva) return std::nullopt;
        if (*nameRva == 0) break;
        const auto name = pe.name(*nameRva);
        if (!name || dlls.size() == kMostNames) return std::nullopt;
        std::string dll(*name);
        std::transform(dll.begin(), dll.end(), dll.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        dlls.push_back(std::move(dll));
    }
    return dlls;
}

// The names an image exports; nullopt when the export table cannot be read.
std::optional<std::vector<std::string_view>> exportedNames(const PeImage& pe) {
    const auto exportRva = pe.directory(0);
    if (!exportRva) return std::nullopt;
    std::vector<std::string_view> names;
    if (*exportRva == 0) return names;
    const auto table = pe.offset(*exportRva);
    if (!table) return std::nullopt;
    // The export directory: the number of names at 24, the RVA of their
    // RVAs at 32.
    const auto count = pe.read(*table + 24);
    const auto namesRva = pe.read(*table + 32);
    if (!count || !namesRva || *count > kMostNames) return std::nullopt;
    if (*count == 0) return names;
    const auto nameRvas = pe.offset(*namesRva);
    if (!nameRvas) return std::nullopt;
    for (std::size_t i = 0; i < *count; ++i) {
        const auto nameRva = pe.read(*nameRvas + 4 * i);
        if (!nameRva) return std::nullopt;
        const auto name = pe.name(*nameRva);
        if (!name) return std::nullopt;
        names.push_back(*name);
    }
    return names;
}

}  // namespace

// The C++ ABI shows in the exports' decoration (Itanium's "_Z...", MSVC's
// "?...") and in the C++ runtime imported (libstdc++ and libgcc, or
// vcruntime140 and msvcp140); the C runtime in the rest of the imports.
// msvcrt.dll alone says mingw-w64's default build: MSVC has not linked it
// since 2015. The UCRT alone (ucrtbase.dll, api-ms-win-crt-*.dll) says
// nothing, as both toolchains can link it; with the Itanium ABI it is a
// mingw-w64 build against the UCRT, a family of its own, as its heap and
// files are not msvcrt.dll's. An image with evidence of both ABIs, or of
// none, is Unknown.
ModuleFamily windowsModuleFamily(std::string_view image) {
    const auto pe = PeImage::of(image);
    if (!pe) return ModuleFamily::Unknown;
    const auto dlls = importedDlls(*pe);
    const auto exports = exportedNames(*pe);
    if (!dlls || !exports) return ModuleFamily::Unknown;
    const auto imports = [&](std::string_view dll) { return std::find(dlls->begin(), dlls->end(), dll) != dlls->end(); };
    const auto exportsStarting = [&](std::string_view prefix) {
        return std::any_of(exports->begin(), exports->end(),
                           [&](std::string_view name) { return name.substr(0, prefix.size()) == prefix; });
    };
    const bool itanium = exportsStarting("_Z") || imports("libstdc++-6.dll") || imports("libgcc_s_seh-1.dll");
    const bool microsoft = exportsStarting("?") || imports("vcruntime140.dll") || imports("vcruntime140_1.dll") ||
                           imports("msvcp140.dll");
    const bool msvcrt = imports("msvcrt.dll");
    const bool ucrt = imports("ucrtbase.dll") || std::any_of(dlls->begin(), dlls->end(), [](std::string_view dll) {
                          return dll.substr(0, 15) == "api-ms-win-crt-";
                      });
    if (itanium == microsoft) return !itanium && msvcrt ? ModuleFamily::MingwGcc : ModuleFamily::Unknown;
    if (microsoft) return ModuleFamily::Msvc;
    if (msvcrt) return ModuleFamily::MingwGcc;
    return ucrt ? ModuleFamily::MingwGccUcrt : ModuleFamily::Unknown;
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
        case ModuleFamily::MingwGccUcrt: return "mingw-w64 GCC against the UCRT (Itanium C++ ABI, libstdc++, ucrtbase.dll)";
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
