#include "support/SAppLog.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "support/LogLine.h"
#include "support/Platform.h"
#include "support/test_log_support.h"

namespace {

using sapp::testing::loggedTexts;
using sapp::testing::narrow;

class SAppLogTest : public ::testing::Test {
protected:
    void SetUp() override { standin::resetLog(); }
    void TearDown() override { standin::resetLog(); }
};

TEST_F(SAppLogTest, EveryFormCarriesItsPrefixSourceAndValues) {
    struct Expected {
        std::string text;
        std::string file;
        unsigned short line;
        std::string macro;
    };
    SAPP_LOG("SAppModule::getInstance");
    SAPP_LOG("SAppModule::addSession, sid=", uint32_t{1234});
    SAPP_LOG("SAppModule::rebind, sid/asid=", uint32_t{7}, uint32_t{9});
    SAPP_LOG("AppMgr, first packet, srcId/seqNum=", uint64_t{10000000000}, uint32_t{5});
    PLOG("AppMgr, not supported appMsgType:");
    PLOG("AppMgr, del app id: ", uint32_t{42});
    const Expected expected[] = {
        {"[sapp] SAppModule::getInstance", "SAppLog", 10, "SAPP_LOG"},
        {"[sapp] SAppModule::addSession, sid= 1234", "SAppLog", 30, "SAPP_LOG"},
        {"[sapp] SAppModule::rebind, sid/asid= 7, 9", "SAppLog", 45, "SAPP_LOG"},
        {"[sapp] AppMgr, first packet, srcId/seqNum= 10000000000, 5", "SAppLog", 45, "SAPP_LOG"},
        {"[sess] AppMgr, not supported appMsgType:", "ProtoLog", 39, "PLOG"},
        {"[sess] AppMgr, del app id:  42", "ProtoLog", 54, "PLOG"},
    };
    const auto records = standin::logRecords();
    ASSERT_EQ(records.size(), std::size(expected));
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(expected[i].text);
        EXPECT_EQ(narrow(records[i].text), expected[i].text);
        EXPECT_EQ(records[i].file, expected[i].file);
        EXPECT_EQ(records[i].line, expected[i].line);
        EXPECT_EQ(records[i].macro, expected[i].macro);
        EXPECT_EQ(records[i].category, "ProtocolSession");
        EXPECT_EQ(records[i].level, 1);
        EXPECT_EQ(records[i].module, sapp::platform::moduleFileName());
        EXPECT_TRUE(records[i].viaSink);
    }
}

TEST_F(SAppLogTest, NumbersAreFormattedInFull) {
    SAPP_LOG("max", std::numeric_limits<uint32_t>::max());
    SAPP_LOG("max64", std::numeric_limits<uint64_t>::max(), uint32_t{0});
    EXPECT_EQ(loggedTexts(), (std::vector<std::string>{"[sapp] max 4294967295",
                                                       "[sapp] max64 18446744073709551615, 0"}));
}

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

TEST_F(SAppLogTest, LineBufferStaysInlineUpTo511CharactersThenDoubles) {
    sapp::LogLine line("f", 1, "m");
    line.appendText(std::string(511, 'a').data(), 511);
    EXPECT_EQ(line.capacity(), 511u);
    line.appendText("b", 1);
    EXPECT_EQ(line.capacity(), 1023u);
    line.appendText(std::string(1000, 'c').data(), 1000);
    EXPECT_EQ(line.capacity(), 2047u);
    EXPECT_EQ(line.length(), 1512u);
}

TEST_F(SAppLogTest, DisabledLevelWritesNothingThroughTheSink) {
    standin::setLogLevelEnabled(false);
    SAPP_LOG("invisible", uint32_t{1});
    PLOG("invisible too");
    EXPECT_TRUE(standin::logRecords().empty());
}

TEST_F(SAppLogTest, TheSinkIsAskedForOnceAndKept) {
    SAPP_LOG("one");
    const unsigned callsAfterFirst = standin::getLogInstanceCalls();
    SAPP_LOG("two");
    SAPP_LOG("three");
    EXPECT_EQ(standin::getLogInstanceCalls(), callsAfterFirst);
}

}  // namespace
