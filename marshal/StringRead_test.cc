// A string field read when its copy cannot be allocated. Built on its own
// (ALONE in CMakeLists.txt): it replaces the global operator new, which
// may fail the next allocation on request.
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "marshal/Encodings.h"
#include "marshal/Unpack.h"

namespace {
bool g_failNext = false;
}  // namespace

void* operator new(std::size_t size) {
    if (g_failNext) {
        g_failNext = false;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// The read replaces the old string with a new one made in its place; when
// the new one's storage cannot be had, an empty string takes the place, so
// that the field stays a string its record can use and destroy (a read that
// left it destroyed would free the old storage twice).
TEST(StringReadTest, AFailedCopyLeavesAnEmptyStringAndThrows) {
    const std::string text(40, 'x');  // past any short-string buffer
    std::string bytes = {static_cast<char>(text.size()), 0};
    bytes += text;

    std::string field(50, 'o');
    pakt::Unpack up(bytes.data(), bytes.size());
    g_failNext = true;
    EXPECT_THROW(pakt::varstr16.unpack(up, field), std::bad_alloc);
    EXPECT_TRUE(field.empty());

    pakt::Unpack again(bytes.data(), bytes.size());
    pakt::varstr16.unpack(again, field);
    EXPECT_EQ(field, text);
}

}  // namespace
