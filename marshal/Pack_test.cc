#include "marshal/Pack.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace pakt {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

TEST(PackTest, EncodesEachPrimitiveLittleEndianWithoutPadding) {
    struct Case {
        const char* name;
        std::function<void(Pack&)> push;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"u8", [](Pack& p) { p.push_uint8(0xAB); }, bytes({0xAB})},
        {"u16", [](Pack& p) { p.push_uint16(0x1234); }, bytes({0x34, 0x12})},
        {"u32 1", [](Pack& p) { p.push_uint32(1); }, bytes({0x01, 0x00, 0x00, 0x00})},
        {"u32", [](Pack& p) { p.push_uint32(0x89ABCDEF); }, bytes({0xEF, 0xCD, 0xAB, 0x89})},
        {"u64 1", [](Pack& p) { p.push_uint64(1); }, bytes({0x01, 0, 0, 0, 0, 0, 0, 0})},
        {"u64", [](Pack& p) { p.push_uint64(0xF102030405060708); },
         bytes({0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0xF1})},
        {"raw", [](Pack& p) { p.push("a\0b", 3); }, std::string("a\0b", 3)},
        {"varstr16", [](Pack& p) { p.push_varstr(std::string("hi")); }, bytes({0x02, 0x00, 'h', 'i'})},
        {"empty varstr16", [](Pack& p) { p.push_varstr(std::string()); }, bytes({0x00, 0x00})},
        {"varstr32", [](Pack& p) { p.push_varstr32("x\0y", 3); }, bytes({0x03, 0x00, 0x00, 0x00, 'x', 0x00, 'y'})},
        {"empty varstr32", [](Pack& p) { p.push_varstr32(std::string()); }, bytes({0x00, 0x00, 0x00, 0x00})},
        {"chained", [](Pack& p) { p.push_uint8(1).push_uint16(2).push_uint32(3); },
         bytes({0x01, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlockBuffer buffer;
        Pack p(buffer);
        c.push(p);
        EXPECT_EQ(p.str(), c.expected);
        EXPECT_EQ(p.size(), c.expected.size());
    }
}

TEST(PackTest, ExposesOnlyTheBytesAfterItsStartingOffset) {
    BlockBuffer buffer;
    Pack outer(buffer);
    EXPECT_EQ(outer.size(), 0u);
    EXPECT_EQ(outer.str(), "");
    outer.push_uint16(0xBEEF);

    Pack inner(buffer);
    inner.push_uint8(7);
    EXPECT_EQ(inner.data(), buffer.data() + 2);
    EXPECT_EQ(inner.str(), bytes({0x07}));
    EXPECT_EQ(outer.str(), bytes({0xEF, 0xBE, 0x07}));
}

TEST(PackTest, Varstr16TakesAtMost65535BytesAndWritesNothingBeyond) {
    const std::string longest(65535, 'q');
    BlockBuffer buffer;
    Pack p(buffer);
    p.push_varstr(longest);
    EXPECT_EQ(p.str(), bytes({0xFF, 0xFF}) + longest);

    const std::string tooLong(65536, 'q');
    EXPECT_THAT([&] { p.push_varstr(tooLong); }, ThrowsMessage<PackError>(StrEq("push_varstr: varstr too big")));
    EXPECT_EQ(p.size(), 2u + 65535u);
}

TEST(PackTest, Varstr32RejectsMoreThan32BitsOfLengthBeforeTouchingTheBytes) {
    if constexpr (sizeof(std::size_t) > 4) {
        BlockBuffer buffer;
        Pack p(buffer);
        p.push_uint8(1);
        const char one = 'x';
        // The length test comes first, so the single byte behind the pointer is never read.
        EXPECT_THAT([&] { p.push_varstr32(&one, std::size_t{1} << 32); },
                    ThrowsMessage<PackError>(StrEq("push_varstr32: varstr too big")));
        EXPECT_EQ(p.str(), bytes({0x01}));
    } else {
        GTEST_SKIP() << "size_t cannot express a length above 32 bits";
    }
}

}  // namespace
}  // namespace pakt
