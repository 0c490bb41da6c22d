// Calls of a member function through its address, as the exception
// machinery makes them (MSVC's internal <trnsctrl.h>): on x64 a member
// function takes `this` as its first argument, like any other.
#pragma once

#define _CallMemberFunction0(pthis, pmfn) ((void(__cdecl*)(void*))(pmfn))((void*)(pthis))
#define _CallMemberFunction1(pthis, pmfn, pthat) \
    ((void(__cdecl*)(void*, void*))(pmfn))((void*)(pthis), (void*)(pthat))
#define _CallMemberFunction2(pthis, pmfn, pthat, val2) \
    ((void(__cdecl*)(void*, void*, int))(pmfn))((void*)(pthis), (void*)(pthat), (int)(val2))
