// Wine's <locale.h> and ucrtbase's code page of the current locale, which
// the UCRT's header declares and MSVC's std::filesystem uses.
#pragma once
#include_next <locale.h>

#ifdef __cplusplus
extern "C"
#endif
    __declspec(dllimport) unsigned int __cdecl ___lc_codepage_func(void);
