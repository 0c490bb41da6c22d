// terminate and its handler, with C linkage, as ucrtbase exports them
// (Wine's <eh.h> declares them as C++ functions, which would link against
// decorated names ucrtbase does not have).
#pragma once
#include <corecrt.h>

#ifdef __cplusplus
extern "C" {
#endif
typedef void(__cdecl* terminate_handler)(void);
typedef void(__cdecl* terminate_function)(void);

__declspec(dllimport) __declspec(noreturn) void __cdecl abort(void);
__declspec(dllimport) __declspec(noreturn) void __cdecl terminate(void) throw();
__declspec(dllimport) terminate_handler __cdecl set_terminate(terminate_handler handler);
__declspec(dllimport) terminate_handler __cdecl _get_terminate(void);
#ifdef __cplusplus
}
#endif
