// Runs in a process of its own: the host gives no log sink from the start,
// so every line goes to DoLog2 and every line asks for the sink again.
#include <gtest/gtest.h>

#include "support/SAppLog.h"
#include "support/test_log_support.h"

namespace {

using sapp::testing::loggedTexts;

class LogFallbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::resetLog();
        standin::setLogSinkAvailable(false);
    }
    void TearDown() override { standin::resetLog(); }
};

TEST_F(LogFallbackTest, LinesGoToDoLog2AndTheSinkIsAskedAgainEachTime) {
    SAPP_LOG("SAppModule::getInstance");
    PLOG("SessionDCHelper::init, query database failed for sid: ", uint32_t{42});
    const auto records = standin::logRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(records[0].viaSink);
    EXPECT_FALSE(records[1].viaSink);
    EXPECT_EQ(loggedTexts(), (std::vector<std::string>{
                                 "[sapp] SAppModule::getInstance",
                                 "[sess] SessionDCHelper::init, query database failed for sid:  42"}));
    EXPECT_EQ(records[1].file, "ProtoLog");
    EXPECT_EQ(records[1].line, 54);
    EXPECT_EQ(standin::getLogInstanceCalls(), 2u);
}

TEST_F(LogFallbackTest, DisabledLevelStillReachesDoLog2WithAnEmptyText) {
    standin::setLogLevelEnabled(false);
    SAPP_LOG("SAppModule::addSession, sid=", uint32_t{5});
    EXPECT_EQ(loggedTexts(), (std::vector<std::string>{""}));
}

TEST_F(LogFallbackTest, ASinkThatAppearsLaterIsPickedUpAndKept) {
    SAPP_LOG("before");
    standin::setLogSinkAvailable(true);
    SAPP_LOG("after");
    standin::setLogSinkAvailable(false);
    SAPP_LOG("kept");
    const auto records = standin::logRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_FALSE(records[0].viaSink);
    EXPECT_TRUE(records[1].viaSink);
    EXPECT_TRUE(records[2].viaSink);
}

}  // namespace
