// What the module's own lines never exercise: texts that are null, empty,
// outside ASCII or long enough to leave the line's inline buffer, and a
// host whose answer changes between a line's two questions. The lines the module writes
// (prefixes, sources, numbers, sink and DoLog2) are tested by the scenario
// folder.
#include "support/SAppLog.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "standin/tarnbase/HostFaults.h"
#include "support/LogLine.h"
#include "support/test_log_support.h"

// The test binary's own array allocation, so that a test can make the next
// one fail: the line buffer's growth is the module's one array allocation.
namespace {
int g_arrayAllocationsToFail = 0;
}  // namespace

void* operator new[](std::size_t size) {
    if (g_arrayAllocationsToFail > 0) {
        --g_arrayAllocationsToFail;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

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

// Composing can fail (the text does not fit the inline buffer and no heap
// block can be had): the line still goes out once, as far as it got, and
// then the exception goes on to the module's caller.
TEST_F(SAppLogTest, ALineThatCannotGrowGoesOutOnceAsFarAsItGotAndTheErrorGoesOn) {
    const std::string message(600, 'x');
    g_arrayAllocationsToFail = 1;
    EXPECT_THROW(SAPP_LOG(message, uint32_t{1}), std::bad_alloc);
    g_arrayAllocationsToFail = 0;
    EXPECT_EQ(loggedTexts(), std::vector<std::string>{"[sapp] "});
    PLOG("next");
    EXPECT_EQ(loggedTexts(), (std::vector<std::string>{"[sapp] ", "[sess] next"}));
}

// A line goes to the host once, however often it is finished; and the
// destructor hands nothing over: a line nobody finishes is not written.
TEST_F(SAppLogTest, ALineIsHandedOverByItsFirstFinishOnly) {
    {
        sapp::LogLine line(sapp::LogLine::startOrFinish(), "f", 1, "m");
        line.appendText("once", 4);
        line.finish();
        line.finish();
    }
    { sapp::LogLine unfinished(sapp::LogLine::startOrFinish(), "f", 2, "m"); }
    EXPECT_EQ(loggedTexts(), std::vector<std::string>{"once"});
}

// A line asks the sink twice, when it starts and when it finishes, and goes
// out only if the second answer is yes: a disabled line goes out empty when
// the level came on meanwhile, an enabled one not at all when it went off,
// and a second question that throws loses the line, not the caller.
TEST_F(SAppLogTest, TheSecondAnswerDecidesWhetherALineGoesOut) {
    SAPP_LOG("known");  // the sink is taken on the first line
    struct Case {
        bool first;
        bool second;
        bool secondThrows;
        std::vector<std::string> logged;
    };
    for (const Case& c : {Case{false, true, false, {""}}, Case{true, false, false, {}},
                          Case{false, false, false, {}}, Case{true, true, false, {"[sapp] text 1, 2"}},
                          Case{false, true, true, {}}, Case{true, true, true, {}}}) {
        SCOPED_TRACE(std::to_string(c.first) + std::to_string(c.second) + std::to_string(c.secondThrows));
        standin::resetLog();
        standin::setLogLevelEnabled(c.first);
        int asks = 0;
        standin::setHostCallWatch([&](standin::HostCall call) {
            if (call != standin::HostCall::IsLevelEnabled) return false;
            if (++asks == 2) standin::setLogLevelEnabled(c.second);
            return asks == 2 && c.secondThrows;
        });
        EXPECT_NO_THROW(SAPP_LOG("text", uint32_t{1}, uint32_t{2}));
        standin::setHostCallWatch({});
        EXPECT_EQ(asks, 2);
        EXPECT_EQ(loggedTexts(), c.logged);
    }
}

// Bytes above 127 become one character each: on Linux the byte's Latin-1
// value whatever the process locale, on Windows the character of the ANSI
// code page, which for 1252 is the same for these two bytes.
TEST_F(SAppLogTest, BytesAboveAsciiAreWidenedOneToOne) {
#if defined(_WIN32)
    if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP();
#endif
    SAPP_LOG("caf\xe9 \xfc");
    ASSERT_EQ(standin::logRecords().size(), 1u);
    EXPECT_EQ(standin::logRecords()[0].text, L"[sapp] caf\u00e9 \u00fc");
}

// A line the host's log does not want takes no text, whatever is appended.
TEST_F(SAppLogTest, ALineOfADisabledLevelStaysEmpty) {
    standin::setLogLevelEnabled(false);
    sapp::LogLine line(sapp::LogLine::startOrFinish(), "f", 1, "m");
    EXPECT_FALSE(line.enabled());
    line.appendText("text", 4);
    line.appendNumber(uint32_t{7});
    line.appendNumber(uint64_t{8});
    EXPECT_EQ(line.length(), 0u);
}

// The line's buffer: it holds as many characters as capacity() says (the
// test writes up to it; AddressSanitizer watches), each growth keeps every
// character before it, also from a heap block filled to its last character,
// and a growth by text takes a power-of-two multiple of the 512-character
// inline buffer, less than twice what text and terminator need.
TEST_F(SAppLogTest, LineHoldsItsCapacityAndGrowsByDoublingWithItsText) {
    const auto fitsItsText = [](const sapp::LogLine& line) {
        const uint64_t block = uint64_t{line.capacity()} + 1;
        EXPECT_EQ(block % 512, 0u);
        EXPECT_TRUE(std::has_single_bit(block / 512)) << block;
        if (block > 512) {
            EXPECT_LT(block, 2 * (uint64_t{line.length()} + 1)) << "grown further than the text needs";
        }
    };
    sapp::LogLine line(sapp::LogLine::startOrFinish(), "f", 1, "m");
    std::string expected;
    for (char c : {'a', 'b', 'c'}) {
        const std::string fill(line.capacity() - line.length(), c);  // to the last character
        line.appendText(fill.data(), fill.size());
        expected += fill;
        ASSERT_EQ(line.length(), line.capacity()) << "no growth while the text fits";
        line.appendText("+", 1);  // one more grows it
        expected += "+";
        fitsItsText(line);
        EXPECT_EQ(narrow(line.text()), expected);
    }

    // Text and terminator that fill a doubled block exactly take that block.
    sapp::LogLine exact(sapp::LogLine::startOrFinish(), "f", 1, "m");
    const std::string a511(511, 'a'), b512(512, 'b');
    exact.appendText(a511.data(), a511.size());
    exact.appendText(b512.data(), b512.size());
    fitsItsText(exact);
    EXPECT_EQ(narrow(exact.text()), a511 + b512);

    // A number reserves 32 characters: the growth comes when fewer remain.
    sapp::LogLine number(sapp::LogLine::startOrFinish(), "f", 1, "m");
    const std::string a(511 - 32, 'a');
    number.appendText(a.data(), a.size());
    number.appendNumber(uint32_t{7});
    EXPECT_EQ(number.capacity(), 511u);
    number.appendNumber(uint32_t{8});
    EXPECT_GT(number.capacity(), 511u);
    EXPECT_EQ(narrow(number.text()), a + "78");
}

}  // namespace
