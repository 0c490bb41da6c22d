#include "support/EntryGuard.h"

#include <cstdio>
#include <cstdlib>

const char* EntryGuard::s_running = nullptr;

void EntryGuard::refuse(const char* call) noexcept {
    std::fprintf(stderr,
                 "sapp: %s was called while %s had not returned: the host called into the module from "
                 "inside a call the module made to it (a session, task queue, packet, database or log "
                 "call). The host must make one call into the module at a time.\n",
                 call, s_running);
    std::fflush(stderr);
    std::abort();
}
