// Wine's <winnt.h> under clang-cl. For clang it defines
// InterlockedCompareExchange128 as a function, and a macro renames that to
// _InterlockedCompareExchange128, which is a builtin of clang-cl: defining a
// builtin is an error. Wine's function is renamed out of the way; the name
// stays the compiler's builtin, as with MSVC's headers.
#pragma once
#define _InterlockedCompareExchange128 __wine_InterlockedCompareExchange128
#include_next <winnt.h>
#undef _InterlockedCompareExchange128
#undef InterlockedCompareExchange128
#define InterlockedCompareExchange128 _InterlockedCompareExchange128
