// <eh.h> as MSVC's runtime declares it: terminate and unexpected with their
// handlers, with C linkage (ucrtbase's exports), and the structured
// exception translator. Replaces Wine's, which declares them as C++
// functions.
#pragma once
#define __WINE_EH_H
#include <corecrt_terminate.h>

#ifdef __cplusplus
extern "C" {
typedef void(__cdecl* unexpected_handler)(void);
typedef void(__cdecl* unexpected_function)(void);
struct _EXCEPTION_POINTERS;
typedef void(__cdecl* _se_translator_function)(unsigned int code, struct _EXCEPTION_POINTERS* info);

__declspec(dllimport) __declspec(noreturn) void __cdecl unexpected(void);
__declspec(dllimport) unexpected_handler __cdecl set_unexpected(unexpected_handler handler);
__declspec(dllimport) unexpected_handler __cdecl _get_unexpected(void);
__declspec(dllimport) _se_translator_function __cdecl _set_se_translator(_se_translator_function translator);
}
#endif
