#include "support/Platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#include <wchar.h>
#else
#include <dlfcn.h>

#include <cwchar>
#endif

namespace sapp::platform {
namespace {

// Holds the module's file name. Its own address lies inside the module, which
// is how the module finds its file.
char g_moduleName[512];

// Keeps the part of `path` after its last separator as the module's name.
void keepFileName(const char* path, char separator) {
    const char* last = std::strrchr(path, separator);
    std::snprintf(g_moduleName, sizeof g_moduleName, "%s", last ? last + 1 : path);
}

#if defined(_WIN32)

// Each step needs the one before; when one fails the path stays empty, and
// so does the name.
void determineModuleName() {
    using GetModuleHandleExWFn = BOOL(WINAPI*)(DWORD, LPCWSTR, HMODULE*);
    HMODULE kernel = GetModuleHandleW(L"Kernel32.dll");
    auto getModuleHandleExW = kernel ? reinterpret_cast<GetModuleHandleExWFn>(reinterpret_cast<void*>(
                                           GetProcAddress(kernel, "GetModuleHandleExW")))
                                     : nullptr;
    HMODULE self = nullptr;
    // 6 = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT
    if (getModuleHandleExW) getModuleHandleExW(6, reinterpret_cast<LPCWSTR>(g_moduleName), &self);
    char path[sizeof g_moduleName] = {};
    if (self) GetModuleFileNameA(self, path, sizeof path);
    keepFileName(path, '\\');
}

#else

// The dynamic loader knows which loaded object contains an address, and
// names its file whenever it finds one.
void determineModuleName() {
    Dl_info info{};
    if (dladdr(static_cast<const void*>(g_moduleName), &info)) keepFileName(info.dli_fname, '/');
}

#endif

// Names the module while it is being loaded, before any log line.
const struct ModuleNameAtLoad {
    ModuleNameAtLoad() { determineModuleName(); }
} g_moduleNameAtLoad;

}  // namespace

const char* moduleFileName() { return g_moduleName; }

#if defined(_WIN32)

// MultiByteToWideChar produces nothing (and answers 0) for no input or on
// failure.
std::size_t narrowToWide(const char* text, std::size_t n, wchar_t* out) {
    const int produced = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(n), out, static_cast<int>(n));
    return static_cast<std::size_t>(std::max(produced, 0));
}

int formatUnsigned(wchar_t* out, std::size_t room, uint32_t value) {
    return _snwprintf_s(out, room, _TRUNCATE, L"%u", value);
}

int formatUnsigned(wchar_t* out, std::size_t room, uint64_t value) {
    return _snwprintf_s(out, room, _TRUNCATE, L"%I64u", static_cast<unsigned long long>(value));
}

#else

// Without a host code page each byte is taken as one character (Latin-1), so
// the result never depends on the process locale.
std::size_t narrowToWide(const char* text, std::size_t n, wchar_t* out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return n;
}

int formatUnsigned(wchar_t* out, std::size_t room, uint32_t value) {
    return std::swprintf(out, room, L"%u", value);
}

int formatUnsigned(wchar_t* out, std::size_t room, uint64_t value) {
    return std::swprintf(out, room, L"%llu", static_cast<unsigned long long>(value));
}

#endif

}  // namespace sapp::platform

#if defined(_WIN32)
// The module does all of its setup in static initialisation; loading and
// unloading only report success.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
