// Wine's <windef.h> without its "#define inline __inline", which it makes
// for every MSVC-like compiler, C++ included; the C++ standard library
// refuses to be included after a keyword was made a macro.
#pragma once
#include_next <windef.h>
#ifdef __cplusplus
#undef inline
#endif
