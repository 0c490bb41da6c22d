// Wine's <corecrt.h> and what MSVC's own version adds that the standard
// library relies on: the 8-byte conversion state _Mbstatet (Wine's
// <wchar.h> calls it an int; see wchar.h here) and the import decorations
// of the C++ runtime DLL (_CRTIMP2: msvcp140 is imported per function).
#pragma once
#include_next <corecrt.h>

#ifndef _MBSTATET_DEFINED
#define _MBSTATET_DEFINED
typedef struct _Mbstatet {
    unsigned long _Wchar;
    unsigned short _Byte;
    unsigned short _State;
} _Mbstatet;
#endif

#ifndef _CRTIMP2
#define _CRTIMP2
#endif
#ifndef _MRTIMP2
#define _MRTIMP2
#endif
#define _PGLOBAL
#ifndef _CRTIMP
#define _CRTIMP __declspec(dllimport)
#endif

// A failed parameter check of the library's secure functions: ucrtbase's
// handler reports it and ends the process.
#ifdef __cplusplus
extern "C"
#endif
    __declspec(dllimport) __declspec(noreturn) void __cdecl _invalid_parameter_noinfo_noreturn(void);
#ifdef __cplusplus
#define _CRT_SECURE_INVALID_PARAMETER(expr) ::_invalid_parameter_noinfo_noreturn()
#else
#define _CRT_SECURE_INVALID_PARAMETER(expr) _invalid_parameter_noinfo_noreturn()
#endif
