// <new.h>: the C runtime's new handler on top of <vcruntime_new.h>, as MSVC
// declares it (ucrtbase exports the functions).
#pragma once
#include <vcruntime_new.h>

#ifdef __cplusplus
extern "C" {
typedef int(__cdecl* _PNH)(size_t);
__declspec(dllimport) _PNH __cdecl _query_new_handler(void);
__declspec(dllimport) _PNH __cdecl _set_new_handler(_PNH handler);
__declspec(dllimport) int __cdecl _query_new_mode(void);
__declspec(dllimport) int __cdecl _set_new_mode(int mode);
}
#endif
