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

// 511 characters fit the inline buffer; each growth copies the text, also
// from a heap block filled to its last character.
TEST_F(SAppLogTest, LineBufferStaysInlineUpTo511CharactersThenDoubles) {
    sapp::LogLine line("f", 1, "m");
    EXPECT_EQ(line.capacity(), 511u);
    line.appendText(std::string(511, 'a').data(), 511);
    EXPECT_EQ(line.capacity(), 511u);
    line.appendText("b", 1);
    EXPECT_EQ(line.capacity(), 1023u);
    line.appendText(std::string(511, 'c').data(), 511);
    EXPECT_EQ(line.capacity(), 1023u);
    line.appendNumber(uint32_t{42});
    EXPECT_EQ(line.capacity(), 2047u);
    EXPECT_EQ(line.length(), 1025u);
    EXPECT_EQ(narrow(line.text()), std::string(511, 'a') + "b" + std::string(511, 'c') + "42");
}

}  // namespace
