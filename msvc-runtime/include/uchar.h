// <uchar.h> as the UCRT declares it, in place of Wine's, which typedefs
// char16_t and char32_t (keywords in C++) and takes Wine's int-sized
// mbstate_t. ucrtbase exports the four conversions.
#pragma once
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#else
typedef unsigned short char16_t;
typedef unsigned int char32_t;
#endif
#define __STDC_UTF_16__ 1
#define __STDC_UTF_32__ 1

__declspec(dllimport) size_t __cdecl mbrtoc16(char16_t* out, char const* s, size_t n, mbstate_t* state);
__declspec(dllimport) size_t __cdecl c16rtomb(char* out, char16_t c, mbstate_t* state);
__declspec(dllimport) size_t __cdecl mbrtoc32(char32_t* out, char const* s, size_t n, mbstate_t* state);
__declspec(dllimport) size_t __cdecl c32rtomb(char* out, char32_t c, mbstate_t* state);
#ifdef __cplusplus
}
#endif
