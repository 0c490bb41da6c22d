#include "support/Platform.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#include <wchar.h>
#else
#include <dlfcn.h>
#endif

namespace sapp::platform {
namespace {

// Holds the module's file name. Its own address lies inside the module, which
// is how the module finds its file.
char g_moduleName[512];

// Keeps the part after the last path separator.
void stripDirectory(char* path, char separator) {
    if (const char* last = std::strrchr(path, separator)) std::memmove(path, last + 1, std::strlen(last + 1) + 1);
}

#if defined(_WIN32)

void determineModuleName() {
    g_moduleName[0] = '\0';
    HMODULE kernel = GetModuleHandleW(L"Kernel32.dll");
    if (!kernel) return;
    using GetModuleHandleExWFn = BOOL(WINAPI*)(DWORD, LPCWSTR, HMODULE*);
    auto getModuleHandleExW =
        reinterpret_cast<GetModuleHandleExWFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetModuleHandleExW")));
    if (!getModuleHandleExW) return;
    HMODULE self = nullptr;
    // 6 = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT
    getModuleHandleExW(6, reinterpret_cast<LPCWSTR>(g_moduleName), &self);
    if (!self) return;
    GetModuleFileNameA(self, g_moduleName, sizeof g_moduleName);
    stripDirectory(g_moduleName, '\\');
}

#else

// The dynamic loader knows which loaded object contains an address.
void determineModuleName() {
    g_moduleName[0] = '\0';
    Dl_info info{};
    if (!dladdr(static_cast<const void*>(g_moduleName), &info) || !info.dli_fname) return;
    std::strncpy(g_moduleName, info.dli_fname, sizeof g_moduleName - 1);
    g_moduleName[sizeof g_moduleName - 1] = '\0';
    stripDirectory(g_moduleName, '/');
}

#endif

const bool g_moduleNameKnown = (determineModuleName(), true);

}  // namespace

const char* moduleFileName() { return g_moduleName; }

#if defined(_WIN32)

std::size_t narrowToWide(const char* text, std::size_t n, wchar_t* out) {
    if (n == 0) return 0;
    const int produced = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(n), out, static_cast<int>(n));
    return produced > 0 ? static_cast<std::size_t>(produced) : 0;
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

namespace {

// The decimal digits of `value`, the work swprintf's "%u" would do without
// its format parsing: fills `out` like it, truncating to room - 1 characters
// (then returning -1) and always terminating.
int formatDecimal(wchar_t* out, std::size_t room, uint64_t value) {
    if (room == 0) return -1;
    wchar_t digits[20];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    const std::size_t fits = n < room ? n : room - 1;
    for (std::size_t i = 0; i < fits; ++i) out[i] = digits[n - 1 - i];
    out[fits] = L'\0';
    return fits == n ? static_cast<int>(n) : -1;
}

}  // namespace

int formatUnsigned(wchar_t* out, std::size_t room, uint32_t value) { return formatDecimal(out, room, value); }

int formatUnsigned(wchar_t* out, std::size_t room, uint64_t value) { return formatDecimal(out, room, value); }

#endif

}  // namespace sapp::platform

#if defined(_WIN32)
// The module does all of its setup in static initialisation; loading and
// unloading only report success.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
