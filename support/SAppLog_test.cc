// What the module's own lines never exercise: texts that are null, empty or
// long enough to leave the line's inline buffer. The lines the module writes
// (prefixes, sources, numbers, sink and DoLog2) are tested by the scenario
// folder.
#include "support/SAppLog.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/LogLine.h"
#include "support/test_log_support.h"

namespace {

using sapp::testing::loggedTexts;
using sapp::testing::narrow;

class SAppLogTest : public ::testing::Test {
protected:
    void SetUp() override { standin::resetLog(); }
    void TearDown() override { standin::resetLog(); }
};

TEST_F(SAppLogTest, NullAndEmptyTextsLeaveThePrefix) {
    SAPP_LOG(static_cast<const char*>(nullptr));
    PLOG(std::string(), uint32_t{3});
    EXPECT_EQ(loggedTexts(), (std::vector<std::string>{"[sapp] ", "[sess]  3"}));
}

TEST_F(SAppLogTest, LongLinesGrowToTheNextDoublingAndArePassedWhole) {
    const std::string message(600, 'x');
    SAPP_LOG(message, uint32_t{1});
    ASSERT_EQ(loggedTexts().size(), 1u);
    EXPECT_EQ(loggedTexts()[0], "[sapp] " + message + " 1");
}

// 511 characters fit the inline buffer; beyond it the block is 512 doubled
// until text and terminator fit, and each growth copies the text, also from
// a heap block filled to its last character.
TEST_F(SAppLogTest, LineBufferStaysInlineUpTo511CharactersThenDoubles) {
    const std::string a(511, 'a');
    const std::string b(512, 'b');
    sapp::LogLine line("f", 1, "m");
    EXPECT_EQ(line.capacity(), 511u);
    line.appendText(a.data(), a.size());
    EXPECT_EQ(line.capacity(), 511u);
    line.appendText("b", 1);
    EXPECT_EQ(line.capacity(), 1023u);

    sapp::LogLine number("f", 1, "m");  // a number reserves 32 characters
    number.appendText(a.data(), 511 - 32);
    number.appendNumber(uint32_t{7});
    EXPECT_EQ(number.capacity(), 511u);
    number.appendNumber(uint32_t{8});
    EXPECT_EQ(number.capacity(), 1023u);

    sapp::LogLine full("f", 1, "m");
    full.appendText(a.data(), a.size());
    full.appendText(b.data(), b.size());
    EXPECT_EQ(full.capacity(), 1023u) << "1023 characters and the terminator fill 1024 exactly";
    full.appendNumber(uint32_t{42});
    EXPECT_EQ(full.capacity(), 2047u);
    EXPECT_EQ(full.length(), 1025u);
    EXPECT_EQ(narrow(full.text()), a + b + "42");
}

}  // namespace
