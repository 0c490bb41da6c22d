// The number formatting the Linux build writes by hand must agree with the
// Windows call it stands for (_snwprintf_s with _TRUNCATE): the same test
// runs against both. The module itself always gives room for the longest
// number; these cases are the ones it does not reach.
#include "support/Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <limits>
#include <string>

namespace {

using sapp::platform::formatUnsigned;

struct Formatted {
    int result;
    std::wstring text;
};

// Formats into a buffer of `room` characters filled with 'x' beforehand, so
// that a missing terminator shows.
template <typename T>
Formatted format(std::size_t room, T value) {
    wchar_t buffer[32];
    std::fill(std::begin(buffer), std::end(buffer), L'x');
    const int result = formatUnsigned(buffer, room, value);
    return {result, std::wstring(buffer, std::wcslen(buffer))};
}

TEST(PlatformTest, NumbersThatFitAreWrittenWholeAndCounted) {
    EXPECT_EQ(format(32, uint32_t{0}).text, L"0");
    EXPECT_EQ(format(32, uint32_t{0}).result, 1);
    EXPECT_EQ(format(6, uint32_t{12345}).text, L"12345");
    EXPECT_EQ(format(6, uint32_t{12345}).result, 5);
    EXPECT_EQ(format(11, std::numeric_limits<uint32_t>::max()).text, L"4294967295");
    EXPECT_EQ(format(21, std::numeric_limits<uint64_t>::max()).text, L"18446744073709551615");
    EXPECT_EQ(format(21, std::numeric_limits<uint64_t>::max()).result, 20);
}

TEST(PlatformTest, NumbersThatDoNotFitAreCutToTheRoomAndReportedAsFailures) {
    EXPECT_EQ(format(5, uint32_t{12345}).text, L"1234");
    EXPECT_LT(format(5, uint32_t{12345}).result, 0);
    EXPECT_EQ(format(2, uint64_t{907}).text, L"9");
    EXPECT_LT(format(2, uint64_t{907}).result, 0);
    // Room for the terminator only.
    EXPECT_EQ(format(1, uint32_t{7}).text, L"");
    EXPECT_LT(format(1, uint32_t{7}).result, 0);
}

}  // namespace
