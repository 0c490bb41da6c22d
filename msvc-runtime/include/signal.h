// Wine's <signal.h> and sig_atomic_t, which it leaves out.
#pragma once
#include_next <signal.h>
typedef int sig_atomic_t;
