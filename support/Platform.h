// The module's platform calls, kept in one place.
//
// Windows builds use the Win32 calls the host environment expects; other
// builds use the closest equivalent (see Platform.cc).
#pragma once

#include <cstddef>
#include <cstdint>

// Keeps a rarely taken path out of its callers, so that they save no
// registers for it.
#if defined(_MSC_VER) && !defined(__clang__)
#define SAPP_COLD __declspec(noinline)
#else
#define SAPP_COLD __attribute__((noinline, cold))
#endif

// Keeps a function out of its callers, for the same reason, where the path
// is not rare (an enabled log line).
#if defined(_MSC_VER) && !defined(__clang__)
#define SAPP_NOINLINE __declspec(noinline)
#else
#define SAPP_NOINLINE __attribute__((noinline))
#endif

namespace sapp::platform {

// File name of the module itself, without its directory; empty when it
// cannot be determined. Computed once while the module is loaded.
const char* moduleFileName();

// Converts n narrow bytes of the host's code page to wide characters in
// `out`, which has room for n characters. Returns the count produced.
std::size_t narrowToWide(const char* text, std::size_t n, wchar_t* out);

// Formats an unsigned decimal into `out` (room for `room` characters
// including the terminator), truncating; always terminates. Returns the
// count of characters written, or a value <= 0 on failure.
int formatUnsigned(wchar_t* out, std::size_t room, uint32_t value);
int formatUnsigned(wchar_t* out, std::size_t room, uint64_t value);

}  // namespace sapp::platform
