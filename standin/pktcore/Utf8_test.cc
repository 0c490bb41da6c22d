#include "standin/pktcore/Utf8.h"

#include <gtest/gtest.h>

#include "host/Pktcore.h"

namespace {

using standin::utf8::toWide;

constexpr char32_t R = 0xFFFD;

TEST(Utf8Test, ValidTextInBothWideForms) {
    // A, e-acute, euro sign, a face outside the basic plane, an embedded NUL.
    const std::string text("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\0z", 12);
    EXPECT_EQ(toWide<char32_t>(text), (std::u32string{U'A', 0xE9, 0x20AC, 0x1F600, 0, U'z'}));
    EXPECT_EQ(toWide<char16_t>(text), (std::u16string{u'A', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0, u'z'}));
    EXPECT_EQ(ProtoA2U::net2app(text), std::wstring(L"A\u00e9\u20ac\U0001F600") + L'\0' + L"z");
    EXPECT_EQ(ProtoA2U::net2app(""), L"");
}

TEST(Utf8Test, EveryLengthBoundaryDecodes) {
    const struct {
        const char* bytes;
        char32_t cp;
    } cases[] = {
        {"\x7F", 0x7F},         {"\xC2\x80", 0x80},         {"\xDF\xBF", 0x7FF},
        {"\xE0\xA0\x80", 0x800}, {"\xED\x9F\xBF", 0xD7FF},  {"\xEE\x80\x80", 0xE000},
        {"\xEF\xBF\xBF", 0xFFFF}, {"\xF0\x90\x80\x80", 0x10000}, {"\xF4\x8F\xBF\xBF", 0x10FFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<unsigned>(c.cp));
        EXPECT_EQ(toWide<char32_t>(c.bytes), std::u32string(1, c.cp));
    }
    EXPECT_EQ(toWide<char16_t>("\xF4\x8F\xBF\xBF"), (std::u16string{0xDBFF, 0xDFFF}));
    EXPECT_EQ(toWide<char16_t>("\xF0\x90\x80\x80"), (std::u16string{0xD800, 0xDC00}));
}

TEST(Utf8Test, IllFormedBytesBecomeReplacementCharacters) {
    // One U+FFFD per maximal ill-formed subpart, as the Unicode Standard
    // recommends.
    const struct {
        const char* name;
        const char* bytes;
        std::u32string expected;
    } cases[] = {
        {"lone continuation", "\x80", {R}},
        {"invalid lead FE", "\xFE", {R}},
        {"invalid lead FF", "a\xFFz", {U'a', R, U'z'}},
        {"overlong 2-byte", "\xC0\x80", {R, R}},
        {"overlong 2-byte C1", "\xC1\xBF", {R, R}},
        {"overlong 3-byte", "\xE0\x80\x80", {R, R, R}},
        {"overlong 3-byte top", "\xE0\x9F\xBF", {R, R, R}},
        {"overlong 4-byte", "\xF0\x80\x80\x80", {R, R, R, R}},
        {"high surrogate", "\xED\xA0\x80", {R, R, R}},
        {"low surrogate", "\xED\xBF\xBF", {R, R, R}},
        {"past U+10FFFF", "\xF4\x90\x80\x80", {R, R, R, R}},
        {"lead F5", "\xF5\x80\x80\x80", {R, R, R, R}},
        {"truncated then ASCII", "\xE2\x82" "A", {R, U'A'}},
        {"truncated at end", "\xF0\x9F\x98", {R}},
        {"lead at end", "A\xC3", {U'A', R}},
        {"lead then valid pair", "\xC3\xC3\xA9", {R, 0xE9}},
        {"extra continuation", "\xF0\x9F\x98\x80\x80", {0x1F600, R}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toWide<char32_t>(c.bytes), c.expected);
        EXPECT_EQ(ProtoA2U::net2app(c.bytes), toWide<wchar_t>(c.bytes));
    }
}

}  // namespace
