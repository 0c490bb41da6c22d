// The module's platform calls, kept in one place.
//
// Windows builds use the Win32 calls the host environment expects; other
// builds use the closest equivalent (see Platform.cc).
#pragma once

#include <cstddef>
#include <cstdint>

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
