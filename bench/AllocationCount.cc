#include "bench/AllocationCount.h"

#include <cstddef>

namespace {

// Plain globals: sapp-bench calls the module from one thread.
bool g_counting = false;
uint64_t g_allocations = 0;

}  // namespace

#if defined(__GLIBC__)

// glibc's allocator under its own names, which it exports for exactly this:
// a program that replaces malloc hands the calls on to them.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);

void* malloc(std::size_t size) noexcept {
    g_allocations += g_counting;
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    g_allocations += g_counting;
    return __libc_calloc(count, size);
}

void* realloc(void* block, std::size_t size) noexcept {
    g_allocations += g_counting;
    return __libc_realloc(block, size);
}
}

#endif

namespace sappbench {

Counted::Counted() noexcept { g_counting = true; }
Counted::~Counted() { g_counting = false; }

uint64_t allocationsCounted() { return g_allocations; }

bool allocationCountAvailable() {
#if defined(__GLIBC__)
    return true;
#else
    return false;
#endif
}

}  // namespace sappbench
