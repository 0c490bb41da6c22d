// Wine's <inttypes.h> and the intmax_t functions ucrtbase exports.
#pragma once
#include_next <inttypes.h>

#ifdef __cplusplus
extern "C" {
#endif
__declspec(dllimport) intmax_t __cdecl imaxabs(intmax_t value);
__declspec(dllimport) imaxdiv_t __cdecl imaxdiv(intmax_t numerator, intmax_t denominator);
__declspec(dllimport) intmax_t __cdecl wcstoimax(wchar_t const* string, wchar_t** end, int base);
__declspec(dllimport) uintmax_t __cdecl wcstoumax(wchar_t const* string, wchar_t** end, int base);
#ifdef __cplusplus
}
#endif
