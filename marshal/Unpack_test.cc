#include "marshal/Unpack.h"

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

TEST(UnpackTest, ReadsLittleEndianIntegersBackToBack) {
    const std::string in = bytes({0xFE,                                             // u8
                                  0x34, 0x12,                                       // u16 0x1234
                                  0xEF, 0xCD, 0xAB, 0x89,                           // u32 0x89ABCDEF
                                  0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0xF1,   // u64
                                  0x99});
    Unpack up(in.data(), in.size());
    EXPECT_EQ(up.pop_uint8(), 0xFE);
    EXPECT_EQ(up.pop_uint16(), 0x1234);
    EXPECT_EQ(up.pop_uint32(), 0x89ABCDEFu);
    EXPECT_EQ(up.pop_uint64(), 0xF102030405060708u);
    EXPECT_EQ(up.size(), 1u);
    EXPECT_EQ(up.data(), in.data() + 15);
}

TEST(UnpackTest, ShortReadThrowsItsOwnMessageAndDoesNotMove) {
    struct Case {
        const char* message;
        std::size_t needs;
        std::function<void(Unpack&)> read;
    };
    const std::vector<Case> cases = {
        {"pop_uint8: not enough data", 1, [](Unpack& up) { up.pop_uint8(); }},
        {"pop_uint16: not enough data", 2, [](Unpack& up) { up.pop_uint16(); }},
        {"pop_uint32: not enough data", 4, [](Unpack& up) { up.pop_uint32(); }},
        {"pop_uint64: not enough data", 8, [](Unpack& up) { up.pop_uint64(); }},
        {"pop_fetch_ptr: not enough data", 5, [](Unpack& up) { up.pop_fetch_ptr(5); }},
    };
    const std::string in(8, '\x11');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Unpack up(in.data(), c.needs - 1);
        EXPECT_THAT([&] { c.read(up); }, ThrowsMessage<UnpackError>(StrEq(c.message)));
        EXPECT_EQ(up.data(), in.data());
        EXPECT_EQ(up.size(), c.needs - 1);
    }
}

TEST(UnpackTest, FetchPointsIntoTheRangeWithoutCopying) {
    const std::string in = "abcdef";
    Unpack up(in.data(), in.size());
    EXPECT_EQ(up.pop_fetch_ptr(0), in.data());
    EXPECT_EQ(up.pop_fetch_ptr(2), in.data());
    EXPECT_EQ(up.pop_fetch_ptr(4), in.data() + 2);
    EXPECT_TRUE(up.empty());
}

TEST(UnpackTest, ReadsStringsOfBothLengthWidths) {
    const std::string in = bytes({0x00, 0x00,                          // varstr16 ""
                                  0x03, 0x00, 'a', 0x00, 'b',          // varstr16 "a\0b"
                                  0x00, 0x00, 0x00, 0x00,              // varstr32 ""
                                  0x02, 0x00, 0x00, 0x00, 'x', 'y'});  // varstr32 "xy"
    Unpack up(in.data(), in.size());
    EXPECT_EQ(up.pop_varstr(), "");
    EXPECT_EQ(up.pop_varstr(), std::string("a\0b", 3));
    EXPECT_EQ(up.pop_varstr32(), "");
    EXPECT_EQ(up.pop_varstr32(), "xy");
    EXPECT_TRUE(up.empty());
}

TEST(UnpackTest, StringShorterThanItsLengthFailsAfterConsumingTheLength) {
    const std::string v16 = bytes({0x0A, 0x00}) + std::string(9, 's');
    Unpack up16(v16.data(), v16.size());
    EXPECT_THAT([&] { up16.pop_varstr(); }, ThrowsMessage<UnpackError>(StrEq("pop_fetch_ptr: not enough data")));
    EXPECT_EQ(up16.size(), 9u);

    const std::string v32 = bytes({0x0A, 0x00, 0x00, 0x00}) + std::string(9, 's');
    Unpack up32(v32.data(), v32.size());
    EXPECT_THAT([&] { up32.pop_varstr32(); }, ThrowsMessage<UnpackError>(StrEq("pop_fetch_ptr: not enough data")));
    EXPECT_EQ(up32.size(), 9u);
}

}  // namespace
}  // namespace pakt
