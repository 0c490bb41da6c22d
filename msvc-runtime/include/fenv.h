// Wine's <fenv.h> and the two functions its ucrtbase lacks, written over
// the ones it has: raising sets the exception flags (no trap is taken), and
// updating installs the environment and raises what was pending before.
#pragma once
#include_next <fenv.h>

#ifdef __cplusplus
extern "C" {
#endif
static inline int __cdecl feraiseexcept(int excepts) {
    fexcept_t flags = (fexcept_t)excepts;
    return fesetexceptflag(&flags, excepts);
}
static inline int __cdecl feupdateenv(fenv_t const* env) {
    int const pending = fetestexcept(FE_ALL_EXCEPT);
    if (fesetenv(env) != 0) {
        return 1;
    }
    return feraiseexcept(pending);
}
#ifdef __cplusplus
}
#endif
