// Wine's <stdlib.h> with what the UCRT's adds and MSVC's standard library
// uses: errno's values (the UCRT's stdlib.h brings <errno.h> along), and
// quick_exit with its handler registration (ucrtbase's _crt_at_quick_exit);
// and _dupenv_s, which ucrtbase exports and code written for MSVC calls in
// place of getenv, which MSVC deprecates.
// atexit and _onexit belong to the static start-up code
// (msvc-runtime/startup/), not to ucrtbase, which exports neither: Wine
// declares them imported, which would fail to link.
#pragma once
#define atexit __wine_imported_atexit
#define _onexit __wine_imported_onexit
#include_next <stdlib.h>
#undef atexit
#undef _onexit
#include <errno.h>

#ifdef __cplusplus
extern "C" {
#endif
int __cdecl atexit(void(__cdecl* function)(void));
_onexit_t __cdecl _onexit(_onexit_t function);

// What abort does besides ending the process (ucrtbase).
#define _WRITE_ABORT_MSG 0x1
#define _CALL_REPORTFAULT 0x2
__declspec(dllimport) unsigned int __cdecl _set_abort_behavior(unsigned int flags, unsigned int mask);

typedef void(__cdecl* _PVFV_quick_exit)(void);
__declspec(dllimport) __declspec(noreturn) void __cdecl quick_exit(int status);
__declspec(dllimport) int __cdecl _crt_at_quick_exit(_PVFV_quick_exit function);
static inline int __cdecl at_quick_exit(_PVFV_quick_exit function) {
    return _crt_at_quick_exit(function);
}

__declspec(dllimport) errno_t __cdecl _dupenv_s(char** buffer, size_t* size, const char* name);
#ifdef __cplusplus
}
#endif
