#include "support/EntryGuard.h"

#ifdef SAPP_CHECK_REENTRY

#include <cstdio>
#include <cstdlib>

namespace {

// The entry point now running, null between calls. Plain data, like the
// rest of the module's process-wide state: one call at a time.
const char* s_running = nullptr;

}  // namespace

EntryGuard::EntryGuard(const char* call) noexcept {
    if (s_running) {
        std::fprintf(stderr,
                     "sapp: %s was called while %s had not returned: the host called into the module from "
                     "inside a call the module made to it (a session, task queue, packet, database or log "
                     "call). The host must make one call into the module at a time.\n",
                     call, s_running);
        std::fflush(stderr);
        std::abort();
    }
    s_running = call;
}

EntryGuard::~EntryGuard() { s_running = nullptr; }

#endif
