// Wine's <wchar.h> with the conversion state of MSVC's C runtime. Wine
// declares mbstate_t as an int; ucrtbase's functions and MSVC's standard
// library use an 8-byte struct (_Mbstatet), which is also what the
// library's codecvt facets keep in their objects. Wine's declarations of the
// restartable conversions take int*; the overloads below take the struct and
// pass it on (ucrtbase reads and writes all 8 bytes). The functions Wine
// leaves out are added as the UCRT's headers define them.
#pragma once

#include <corecrt.h>

#define mbstate_t __wine_int_mbstate_t
#include_next <wchar.h>
#undef mbstate_t
typedef _Mbstatet mbstate_t;

#ifdef __cplusplus
extern "C" {
#endif
// The UCRT defines these two inline, ucrtbase does not export them.
static inline int __cdecl fwide(FILE* stream, int mode) {
    (void)stream;
    return mode;
}
static inline int __cdecl mbsinit(mbstate_t const* state) {
    return state == NULL || state->_Wchar == 0;
}
__declspec(dllimport) long double __cdecl wcstold(wchar_t const* string, wchar_t** end);

static inline int __cdecl vfwscanf(FILE* stream, wchar_t const* format, va_list args) {
    return __stdio_common_vfwscanf(_CRT_INTERNAL_LOCAL_SCANF_OPTIONS, stream, format, NULL, args);
}
static inline int __cdecl vswscanf(wchar_t const* buffer, wchar_t const* format, va_list args) {
    return __stdio_common_vswscanf(_CRT_INTERNAL_LOCAL_SCANF_OPTIONS, buffer, (size_t)-1, format, NULL, args);
}
static inline int __cdecl vwscanf(wchar_t const* format, va_list args) {
    return vfwscanf(stdin, format, args);
}
#ifdef __cplusplus
}

inline size_t __cdecl mbrlen(char const* s, size_t n, mbstate_t* state) {
    return mbrlen(s, n, reinterpret_cast<__wine_int_mbstate_t*>(state));
}
inline size_t __cdecl mbrtowc(wchar_t* out, char const* s, size_t n, mbstate_t* state) {
    return mbrtowc(out, s, n, reinterpret_cast<__wine_int_mbstate_t*>(state));
}
inline size_t __cdecl mbsrtowcs(wchar_t* out, char const** s, size_t n, mbstate_t* state) {
    return mbsrtowcs(out, s, n, reinterpret_cast<__wine_int_mbstate_t*>(state));
}
inline size_t __cdecl wcrtomb(char* out, wchar_t c, mbstate_t* state) {
    return wcrtomb(out, c, reinterpret_cast<__wine_int_mbstate_t*>(state));
}
inline size_t __cdecl wcsrtombs(char* out, wchar_t const** s, size_t n, mbstate_t* state) {
    return wcsrtombs(out, s, n, reinterpret_cast<__wine_int_mbstate_t*>(state));
}
#endif
