// Wine's <math.h> with what the UCRT's header adds and MSVC's standard
// library uses:
//  - the long double functions. long double is double under MSVC, and the
//    UCRT defines most of them inline over the double ones; so do these;
//  - erfc, fma, nan and nexttoward, which ucrtbase exports and Wine's header
//    leaves out, and float_t / double_t;
//  - fpclassify, signbit, isnan ... as C++ functions. Wine defines them as
//    macros, which <cmath> cannot name in a using-declaration; ucrtbase's
//    _dtest, _dsign and _dpcomp families answer them, as in the UCRT.
#pragma once
#include_next <math.h>

#undef fpclassify
#undef signbit
#undef isinf
#undef isnan
#undef isnormal
#undef isfinite
#undef isgreater
#undef isgreaterequal
#undef isless
#undef islessequal
#undef islessgreater
#undef isunordered

#ifdef __cplusplus
extern "C" {
#endif
typedef float float_t;
typedef double double_t;

__declspec(dllimport) double __cdecl erfc(double x);
__declspec(dllimport) float __cdecl erfcf(float x);
__declspec(dllimport) double __cdecl fma(double x, double y, double z);
__declspec(dllimport) float __cdecl fmaf(float x, float y, float z);
__declspec(dllimport) double __cdecl nan(char const* tag);
__declspec(dllimport) float __cdecl nanf(char const* tag);
__declspec(dllimport) long double __cdecl nanl(char const* tag);
__declspec(dllimport) double __cdecl nexttoward(double x, long double y);
__declspec(dllimport) float __cdecl nexttowardf(float x, long double y);
__declspec(dllimport) long double __cdecl nexttowardl(long double x, long double y);

__declspec(dllimport) short __cdecl _dtest(double* x);
__declspec(dllimport) short __cdecl _fdtest(float* x);
__declspec(dllimport) short __cdecl _ldtest(long double* x);
__declspec(dllimport) int __cdecl _ldsign(long double x);
__declspec(dllimport) int __cdecl _dpcomp(double x, double y);

static inline long double __cdecl acosl(long double x) { return acos((double)x); }
static inline long double __cdecl acoshl(long double x) { return acosh((double)x); }
static inline long double __cdecl asinl(long double x) { return asin((double)x); }
static inline long double __cdecl asinhl(long double x) { return asinh((double)x); }
static inline long double __cdecl atanl(long double x) { return atan((double)x); }
static inline long double __cdecl atanhl(long double x) { return atanh((double)x); }
static inline long double __cdecl cbrtl(long double x) { return cbrt((double)x); }
static inline long double __cdecl ceill(long double x) { return ceil((double)x); }
static inline long double __cdecl cosl(long double x) { return cos((double)x); }
static inline long double __cdecl coshl(long double x) { return cosh((double)x); }
static inline long double __cdecl erfl(long double x) { return erf((double)x); }
static inline long double __cdecl erfcl(long double x) { return erfc((double)x); }
static inline long double __cdecl expl(long double x) { return exp((double)x); }
static inline long double __cdecl exp2l(long double x) { return exp2((double)x); }
static inline long double __cdecl expm1l(long double x) { return expm1((double)x); }
static inline long double __cdecl fabsl(long double x) { return fabs((double)x); }
static inline long double __cdecl floorl(long double x) { return floor((double)x); }
static inline long double __cdecl lgammal(long double x) { return lgamma((double)x); }
static inline long double __cdecl logl(long double x) { return log((double)x); }
static inline long double __cdecl log10l(long double x) { return log10((double)x); }
static inline long double __cdecl log1pl(long double x) { return log1p((double)x); }
static inline long double __cdecl log2l(long double x) { return log2((double)x); }
static inline long double __cdecl logbl(long double x) { return logb((double)x); }
static inline long double __cdecl nearbyintl(long double x) { return nearbyint((double)x); }
static inline long double __cdecl rintl(long double x) { return rint((double)x); }
static inline long double __cdecl roundl(long double x) { return round((double)x); }
static inline long double __cdecl sinl(long double x) { return sin((double)x); }
static inline long double __cdecl sinhl(long double x) { return sinh((double)x); }
static inline long double __cdecl sqrtl(long double x) { return sqrt((double)x); }
static inline long double __cdecl tanl(long double x) { return tan((double)x); }
static inline long double __cdecl tanhl(long double x) { return tanh((double)x); }
static inline long double __cdecl tgammal(long double x) { return tgamma((double)x); }
static inline long double __cdecl truncl(long double x) { return trunc((double)x); }
static inline long double __cdecl atan2l(long double x, long double y) { return atan2((double)x, (double)y); }
static inline long double __cdecl copysignl(long double x, long double y) { return copysign((double)x, (double)y); }
static inline long double __cdecl fdiml(long double x, long double y) { return fdim((double)x, (double)y); }
static inline long double __cdecl fmaxl(long double x, long double y) { return fmax((double)x, (double)y); }
static inline long double __cdecl fminl(long double x, long double y) { return fmin((double)x, (double)y); }
static inline long double __cdecl fmodl(long double x, long double y) { return fmod((double)x, (double)y); }
static inline long double __cdecl hypotl(long double x, long double y) { return hypot((double)x, (double)y); }
static inline long double __cdecl nextafterl(long double x, long double y) { return nextafter((double)x, (double)y); }
static inline long double __cdecl powl(long double x, long double y) { return pow((double)x, (double)y); }
static inline long double __cdecl remainderl(long double x, long double y) { return remainder((double)x, (double)y); }
static inline long double __cdecl fmal(long double x, long double y, long double z) { return fma((double)x, (double)y, (double)z); }
static inline long double __cdecl frexpl(long double x, int* e) { return frexp((double)x, e); }
static inline int __cdecl ilogbl(long double x) { return ilogb((double)x); }
static inline long double __cdecl ldexpl(long double x, int e) { return ldexp((double)x, e); }
static inline long long __cdecl llrintl(long double x) { return llrint((double)x); }
static inline long long __cdecl llroundl(long double x) { return llround((double)x); }
static inline __msvcrt_long __cdecl lrintl(long double x) { return lrint((double)x); }
static inline __msvcrt_long __cdecl lroundl(long double x) { return lround((double)x); }
static inline long double __cdecl modfl(long double x, long double* i) { double d; double r = modf((double)x, &d); *i = d; return r; }
static inline long double __cdecl remquol(long double x, long double y, int* q) { return remquo((double)x, (double)y, q); }
static inline long double __cdecl scalblnl(long double x, __msvcrt_long e) { return scalbln((double)x, e); }
static inline long double __cdecl scalbnl(long double x, int e) { return scalbn((double)x, e); }
#ifdef __cplusplus
}

// The classification of the UCRT's <math.h> in C++: one overload per
// floating type; _dpcomp answers a comparison with _FP_LT (1), _FP_EQ (2)
// and _FP_GT (4), or 0 for unordered operands.
extern "C++" {
inline int fpclassify(float x) noexcept { return _fdtest(&x); }
inline int fpclassify(double x) noexcept { return _dtest(&x); }
inline int fpclassify(long double x) noexcept { return _ldtest(&x); }
inline bool signbit(float x) noexcept { return _fdsign(x) != 0; }
inline bool signbit(double x) noexcept { return _dsign(x) != 0; }
inline bool signbit(long double x) noexcept { return _ldsign(x) != 0; }

template <class T> inline bool isfinite(T x) noexcept { return fpclassify(x) <= 0; }
template <class T> inline bool isinf(T x) noexcept { return fpclassify(x) == FP_INFINITE; }
template <class T> inline bool isnan(T x) noexcept { return fpclassify(x) == FP_NAN; }
template <class T> inline bool isnormal(T x) noexcept { return fpclassify(x) == FP_NORMAL; }

template <class T, class U> inline int _fpcomp(T x, U y) noexcept {
    return _dpcomp(static_cast<double>(x), static_cast<double>(y));
}
template <class T, class U> inline bool isgreater(T x, U y) noexcept { return (_fpcomp(x, y) & 4) != 0; }
template <class T, class U> inline bool isgreaterequal(T x, U y) noexcept { return (_fpcomp(x, y) & 6) != 0; }
template <class T, class U> inline bool isless(T x, U y) noexcept { return (_fpcomp(x, y) & 1) != 0; }
template <class T, class U> inline bool islessequal(T x, U y) noexcept { return (_fpcomp(x, y) & 3) != 0; }
template <class T, class U> inline bool islessgreater(T x, U y) noexcept { return (_fpcomp(x, y) & 5) != 0; }
template <class T, class U> inline bool isunordered(T x, U y) noexcept { return _fpcomp(x, y) == 0; }
}
#endif
