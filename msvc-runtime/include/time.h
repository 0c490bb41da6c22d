// Wine's <time.h> with struct timespec and timespec_get, which the UCRT's
// header defines inline over ucrtbase's _timespec64_get.
#pragma once
#include_next <time.h>

#ifndef TIME_UTC
#define TIME_UTC 1
#endif

#ifdef __cplusplus
extern "C" {
#endif
struct _timespec64 {
    __time64_t tv_sec;
    long tv_nsec;
};
struct timespec {
    time_t tv_sec;
    long tv_nsec;
};
__declspec(dllimport) int __cdecl _timespec64_get(struct _timespec64* ts, int base);
static inline int __cdecl timespec_get(struct timespec* ts, int base) {
    return _timespec64_get((struct _timespec64*)ts, base);
}
#ifdef __cplusplus
}
#endif

// The secure conversions the UCRT's header defines inline over the 64-bit
// time functions ucrtbase exports.
#ifdef __cplusplus
extern "C" {
#endif
__declspec(dllimport) errno_t __cdecl _gmtime64_s(struct tm* out, __time64_t const* time);
static inline errno_t __cdecl localtime_s(struct tm* out, time_t const* time) {
    return _localtime64_s(out, time);
}
static inline errno_t __cdecl gmtime_s(struct tm* out, time_t const* time) {
    return _gmtime64_s(out, time);
}
#ifdef __cplusplus
}
#endif
