#include "marshal/Unpack.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "marshal/test_bytes.h"

#include <functional>
#include <string>
#include <vector>

namespace pakt {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

// A short read throws the message of that read and leaves the reader where it
// was; a varstr whose bytes are missing has already consumed its length.
TEST(UnpackTest, ShortReadThrowsItsOwnMessageAndDoesNotMove) {
    struct Case {
        const char* message;
        std::string in;
        std::function<void(Unpack&)> read;
        std::size_t left;  // bytes the reader still holds afterwards
    };
    const std::vector<Case> cases = {
        {"pop_uint8: not enough data", "", [](Unpack& up) { up.pop_uint8(); }, 0},
        {"pop_uint16: not enough data", "1", [](Unpack& up) { up.pop_uint16(); }, 1},
        {"pop_uint32: not enough data", "123", [](Unpack& up) { up.pop_uint32(); }, 3},
        {"pop_uint64: not enough data", "1234567", [](Unpack& up) { up.pop_uint64(); }, 7},
        {"pop_fetch_ptr: not enough data", "1234", [](Unpack& up) { up.pop_fetch_ptr(5); }, 4},
        {"pop_fetch_ptr: not enough data", bytes({0x0A, 0x00}) + "123456789", [](Unpack& up) { up.pop_varstr(); }, 9},
        {"pop_fetch_ptr: not enough data", bytes({0x0A, 0, 0, 0}) + "123456789", [](Unpack& up) { up.pop_varstr32(); },
         9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message + (" from " + std::to_string(c.in.size()) + " bytes"));
        Unpack up(c.in.data(), c.in.size());
        EXPECT_THAT([&] { c.read(up); }, ThrowsMessage<UnpackError>(StrEq(c.message)));
        EXPECT_EQ(up.size(), c.left);
        EXPECT_EQ(up.data(), c.in.data() + c.in.size() - c.left);
    }
}

// Integer and string reads are pinned by the record tables of protocol/.
TEST(UnpackTest, FetchPointsIntoTheRangeWithoutCopying) {
    const std::string in = "abcdef";
    Unpack up(in.data(), in.size());
    EXPECT_EQ(up.pop_fetch_ptr(2), in.data());
    EXPECT_EQ(up.pop_fetch_ptr(4), in.data() + 2);
}

}  // namespace
}  // namespace pakt
