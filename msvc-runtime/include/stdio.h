// Wine's <stdio.h> and the scanf forms with a va_list, which the UCRT's
// header defines inline over ucrtbase's __stdio_common_* and Wine's omits.
#pragma once
#include_next <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif
static inline int __cdecl vfscanf(FILE* stream, char const* format, va_list args) {
    return __stdio_common_vfscanf(_CRT_INTERNAL_LOCAL_SCANF_OPTIONS, stream, format, NULL, args);
}
static inline int __cdecl vsscanf(char const* buffer, char const* format, va_list args) {
    return __stdio_common_vsscanf(_CRT_INTERNAL_LOCAL_SCANF_OPTIONS, buffer, (size_t)-1, format, NULL, args);
}
static inline int __cdecl vscanf(char const* format, va_list args) {
    return vfscanf(stdin, format, args);
}
#ifdef __cplusplus
}
#endif

// The stream's buffer pointers, which MSVC's <fstream> reads directly
// (ucrtbase exports the function; Wine's header does not declare it).
#ifdef __cplusplus
extern "C"
#endif
    __declspec(dllimport) errno_t __cdecl _get_stream_buffer_pointers(FILE* stream, char*** base, char*** pointer,
                                                                     int** count);
