// The compiler runtime's base header, as MSVC's standard library expects it:
// the C runtime's basic types (Wine's corecrt.h) and the macros the library's
// headers build on. MSVC ships this header with the compiler and it is not
// open source; this one declares only what the library uses, with MSVC's
// meanings.
#pragma once
#define _VCRUNTIME_H

#include <corecrt.h>
#include <sal.h>
#include <vadefs.h>

#define _CRT_PACKING 8
#define _VCRTIMP __declspec(dllimport)
#define _VCRT_NOALIAS __declspec(noalias)
#define _VCRT_RESTRICT __declspec(restrict)
#define _VCRT_ALLOCATOR __declspec(allocator)
#define _CRTALLOCATOR __declspec(allocator)
#define _CRTRESTRICT __declspec(restrict)
#define _CRT_JIT_INTRINSIC
#define _CRT_GUARDOVERFLOW
#define _CRT_HYBRIDPATCHABLE
#define _CRT_ALIGN(x) __declspec(align(x))
#define _VCRUNTIME_DISABLED_WARNINGS 4514 4820

#ifdef __cplusplus
#define _CRT_BEGIN_C_HEADER __pragma(pack(push, _CRT_PACKING)) extern "C" {
#define _CRT_END_C_HEADER } __pragma(pack(pop))
#define _CRT_UNUSED(x) (void)x
#else
#define _CRT_BEGIN_C_HEADER __pragma(pack(push, _CRT_PACKING))
#define _CRT_END_C_HEADER __pragma(pack(pop))
#define _CRT_UNUSED(x) (void)x
#endif

#define _CRT_STRINGIZE_(x) #x
#define _CRT_STRINGIZE(x) _CRT_STRINGIZE_(x)
#define _CRT_WIDE_(s) L##s
#define _CRT_WIDE(s) _CRT_WIDE_(s)
#define _CRT_CONCATENATE_(a, b) a##b
#define _CRT_CONCATENATE(a, b) _CRT_CONCATENATE_(a, b)
#define _CRT_UNPARENTHESIZE_(...) __VA_ARGS__
#define _CRT_UNPARENTHESIZE(...) _CRT_UNPARENTHESIZE_ __VA_ARGS__

#ifndef _HAS_EXCEPTIONS
#define _HAS_EXCEPTIONS 1
#endif
#ifndef _HAS_NODISCARD
#define _HAS_NODISCARD 1
#endif
#define _NODISCARD [[nodiscard]]
#define _CRT_DEPRECATE_TEXT(text) __declspec(deprecated(text))
#define _CRT_INSECURE_DEPRECATE(replacement)
#define _CRT_INSECURE_DEPRECATE_MEMORY(replacement)
#define _CRT_NONSTDC_DEPRECATE(replacement)
#define _CRT_SECURE_CPP_NOTHROW throw()
#define _CRT_HAS_CXX17 (__cplusplus >= 201703L)

#ifdef __cplusplus
extern "C++" {
template <typename _CountofType, size_t _SizeOfArray>
char (*__countof_helper(_CountofType (&)[_SizeOfArray]))[_SizeOfArray];
}
#define __crt_countof(array) (sizeof(*__countof_helper(array)) + 0)
#else
#define __crt_countof(array) (sizeof(array) / sizeof(array[0]))
#endif

#ifdef __cplusplus
extern "C" {
#endif
extern uintptr_t __security_cookie;
void __cdecl __security_init_cookie(void);
void __cdecl __security_check_cookie(uintptr_t cookie);
#ifdef __cplusplus
}
#endif

// Calling conventions and decorations the library's declarations carry.
#define __CRTDECL __cdecl
#define __CLR_OR_THIS_CALL
#define __CLRCALL_OR_CDECL __cdecl
#define __CLRCALL_PURE_OR_CDECL __cdecl
#define __CLRCALL_PURE_OR_STDCALL __stdcall
#define _VCRT_EXPORT_STD

// The language level the standard library builds on (MSVC's vcruntime.h
// derives it from /std:c++NN).
#ifdef _MSVC_LANG
#define _STL_LANG _MSVC_LANG
#elif defined(__cplusplus)
#define _STL_LANG __cplusplus
#else
#define _STL_LANG 0L
#endif
#ifndef _HAS_CXX17
#define _HAS_CXX17 (_STL_LANG > 201402L)
#endif
#ifndef _HAS_CXX20
#define _HAS_CXX20 (_STL_LANG > 201703L)
#endif
#ifndef _HAS_CXX23
#define _HAS_CXX23 (_STL_LANG > 202002L)
#endif

// The satellite DLLs of the C++ runtime: msvcp140_1 (memory resources) and
// msvcp140_2 (special math functions).
#define _CRT_SATELLITE_1 __declspec(dllimport)
#define _CRT_SATELLITE_2 __declspec(dllimport)

// MSVC's [[msvc::constexpr]] where the compiler has it; clang-cl 14 does not.
#define _MSVC_CONSTEXPR

// msvcp140_codecvt_ids.dll holds the ids of the char16_t, char32_t and
// char8_t code conversion facets. Wine has no such DLL; the ids are plain
// declarations here, so a program that uses those facets fails to link
// rather than to load.
#define _CRT_SATELLITE_CODECVT_IDS
#define _CRT_SATELLITE_CODECVT_IDS_NOIMPORT
