#include "standin/pktcore/Utf8.h"

#include <gtest/gtest.h>

#include "host/Pktcore.h"

namespace {

using standin::utf8::toWide;

constexpr char32_t R = 0xFFFD;

TEST(Utf8Test, DecodesEveryLengthAndReplacesEachMaximalIllFormedSubpart) {
    // The valid row holds the edges of each length's range; each ill-formed
    // row lies just past one of those edges.
    const struct {
        std::string bytes;
        std::u32string expected;
    } cases[] = {
        {std::string("A\0\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF"
                     "\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
                     26),
         {U'A', 0, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFF, 0x10000, 0x10FFFF}},
        {"\x80", {R}},                           // lone continuation
        {"a\xFEz", {U'a', R, U'z'}},             // invalid lead
        {"\xC1\xBF", {R, R}},                    // overlong
        {"\xE0\x9F\xBF", {R, R, R}},             // overlong
        {"\xF0\x8F\xBF\xBF", {R, R, R, R}},      // overlong
        {"\xED\xA0\x80", {R, R, R}},             // surrogate
        {"\xF4\x90\x80\x80", {R, R, R, R}},      // past U+10FFFF
        {"\xF5\x80", {R, R}},                    // lead past F4
        {"\xE2\x82\x41", {R, U'A'}},             // truncated, then ASCII
        {"\xF0\x9F\x98", {R}},                   // truncated at the end
        {"\xF0\x9F\x98\x80\x80", {0x1F600, R}},  // extra continuation
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        EXPECT_EQ(toWide<char32_t>(c.bytes), c.expected);
        EXPECT_EQ(ProtoA2U::net2app(c.bytes), toWide<wchar_t>(c.bytes));
    }
    EXPECT_EQ(toWide<char16_t>("\xC3\xA9\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"),
              (std::u16string{0xE9, 0xD800, 0xDC00, 0xDBFF, 0xDFFF}));
}

}  // namespace
