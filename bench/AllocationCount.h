// Allocations per message: a count of the C heap allocations the process
// makes while a count is on, for sapp-bench's "allocs" column.
//
// The bench host replaces malloc, calloc and realloc with versions that
// count their calls and hand them on to the C library's own (glibc's
// __libc_malloc and its siblings); operator new, and so every standard
// container and string, allocates through malloc. A benchmark turns the
// count on around each call into the module only (a Counted in scope), so
// neither the benchmark's own allocations nor the host's set-up are counted.
// Where the C library is not glibc nothing is replaced, and available()
// says so.
#pragma once

#include <cstdint>

namespace sappbench {

// Counts while it is in scope.
class Counted {
public:
    Counted() noexcept;
    ~Counted();
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
};

// Allocations counted so far, in every Counted scope.
uint64_t allocationsCounted();
// Whether allocations are counted at all in this build.
bool allocationCountAvailable();

}  // namespace sappbench
