#include "marshal/Pack.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace pakt {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

TEST(PackTest, AppendsEachPrimitiveLittleEndianBackToBack) {
    BlockBuffer buffer;
    Pack p(buffer);
    p.push_uint8(0xAB).push_uint16(0x1234).push_uint32(0x89ABCDEF).push_uint64(0xF102030405060708);
    p.push_varstr(std::string("a\0b", 3)).push_varstr("").push_varstr32("xy", 2).push_varstr32("").push("raw", 3);
    EXPECT_EQ(p.str(), bytes({0xAB,                                            // u8
                              0x34, 0x12,                                      // u16 0x1234
                              0xEF, 0xCD, 0xAB, 0x89,                          // u32 0x89ABCDEF
                              0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0xF1,  // u64 0xF102030405060708
                              0x03, 0x00, 'a', 0x00, 'b', 0x00, 0x00,          // varstr16 "a\0b", ""
                              0x02, 0, 0, 0, 'x', 'y', 0, 0, 0, 0,             // varstr32 "xy", ""
                              'r', 'a', 'w'}));                                // raw
}

TEST(PackTest, ExposesOnlyTheBytesFromItsStartingOffset) {
    BlockBuffer buffer;
    Pack outer(buffer);
    EXPECT_EQ(outer.str(), "");
    outer.push_uint16(0xBEEF);
    Pack inner(buffer);
    inner.push_uint8(7);
    EXPECT_EQ(inner.data(), buffer.data() + 2);
    EXPECT_EQ(inner.str(), bytes({0x07}));
    EXPECT_EQ(outer.str(), bytes({0xEF, 0xBE, 0x07}));
}

TEST(PackTest, VarstrLengthLimitsAreCheckedBeforeAnythingIsWritten) {
    BlockBuffer buffer;
    Pack p(buffer);
    const std::string longest(65535, 'q');
    p.push_varstr(longest);
    EXPECT_EQ(p.str(), bytes({0xFF, 0xFF}) + longest);
    EXPECT_THAT([&] { p.push_varstr(longest + 'q'); }, ThrowsMessage<PackError>(StrEq("push_varstr: varstr too big")));
    if constexpr (sizeof(std::size_t) > 4) {
        // The length test comes first: the bytes behind the pointer are never read.
        EXPECT_THAT([&] { p.push_varstr32(longest.data(), std::size_t{1} << 32); },
                    ThrowsMessage<PackError>(StrEq("push_varstr32: varstr too big")));
    }
    EXPECT_EQ(p.size(), 2u + 65535u);
}

}  // namespace
}  // namespace pakt
