#include "standin/tarnbase/StandinLog.h"

#include <gtest/gtest.h>

#include <tuple>

#include "host/Tarnbase.h"

namespace {

auto fields(const standin::LogRecord& r) {
    return std::tie(r.level, r.category, r.file, r.line, r.macro, r.text, r.module, r.viaSink);
}

class StandinLogTest : public ::testing::Test {
protected:
    void SetUp() override { standin::resetLog(); }
    void TearDown() override { standin::resetLog(); }
};

TEST_F(StandinLogTest, SinkAndDoLog2RecordAllSevenValuesInCallOrder) {
    LogExport* sink = GetLogInstance(L"vessaprotocol.lg");
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(GetLogInstance(L"other.lg"), sink) << "one sink for every file name";
    EXPECT_EQ(standin::getLogInstanceCalls(), 2u);
    EXPECT_EQ(standin::lastLogInstanceName(), L"other.lg");

    sink->write(1, "ProtocolSession", "SAppLog", 10, "SAPP_LOG", L"[sapp] x", "sapp.dll");
    DoLog2(3, "Cat", "ProtoLog", 54, "PLOG", L"[sess] \u00e9 7", "m.dll");
    sink->write(2, nullptr, nullptr, 0, nullptr, nullptr, nullptr);

    const auto records = standin::logRecords();
    ASSERT_EQ(records.size(), 3u);
    using Fields = std::tuple<unsigned short, std::string, std::string, unsigned short, std::string, std::wstring,
                              std::string, bool>;
    EXPECT_EQ(fields(records[0]),
              Fields(1, "ProtocolSession", "SAppLog", 10, "SAPP_LOG", L"[sapp] x", "sapp.dll", true));
    EXPECT_EQ(fields(records[1]), Fields(3, "Cat", "ProtoLog", 54, "PLOG", L"[sess] \u00e9 7", "m.dll", false));
    // Null pointers are recorded as empty strings rather than crashing.
    EXPECT_EQ(fields(records[2]), Fields(2, "", "", 0, "", L"", "", true));

    standin::clearLogRecords();
    EXPECT_TRUE(standin::logRecords().empty());
    EXPECT_EQ(standin::getLogInstanceCalls(), 2u) << "clearing records keeps the call count";
}

TEST_F(StandinLogTest, SwitchesChangeAnswersButNotRecordingAndResetRestoresDefaults) {
    LogExport* sink = GetLogInstance(L"a.lg");
    ASSERT_NE(sink, nullptr);
    EXPECT_TRUE(sink->isLevelEnabled(1));
    EXPECT_TRUE(IsLogLevelEnabled(1));

    standin::setLogSinkAvailable(false);
    standin::setLogLevelEnabled(false);
    EXPECT_EQ(GetLogInstance(L"a.lg"), nullptr);
    EXPECT_EQ(standin::getLogInstanceCalls(), 2u) << "a null answer is counted too";
    EXPECT_FALSE(sink->isLevelEnabled(1));
    EXPECT_FALSE(IsLogLevelEnabled(1));
    // A disabled level is the caller's business: what is written is kept.
    DoLog2(1, "c", "f", 1, "m", L"", "mod");
    sink->write(1, "c", "f", 1, "m", L"t", "mod");
    EXPECT_EQ(standin::logRecords().size(), 2u);

    int observed = 0;
    standin::setLogObserver([&](const standin::LogRecord&) { ++observed; });
    standin::resetLog();
    DoLog2(1, "c", "f", 1, "m", L"t", "mod");
    EXPECT_EQ(observed, 0) << "reset drops the observer";
    EXPECT_NE(GetLogInstance(L"a.lg"), nullptr);
    EXPECT_TRUE(IsLogLevelEnabled(1));
    EXPECT_EQ(standin::getLogInstanceCalls(), 1u);
    EXPECT_EQ(standin::logRecords().size(), 1u);
}

TEST_F(StandinLogTest, ObserverSeesEachLineAfterItIsRecordedAndMayCallBackIn) {
    std::vector<std::pair<std::wstring, std::size_t>> seen;
    standin::setLogObserver([&](const standin::LogRecord& r) {
        seen.emplace_back(r.text, standin::logRecords().size());
    });
    GetLogInstance(L"x")->write(1, "c", "f", 1, "m", L"one", "mod");
    DoLog2(1, "c", "f", 2, "m", L"two", "mod");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(std::wstring(L"one"), std::size_t{1}));
    EXPECT_EQ(seen[1], std::make_pair(std::wstring(L"two"), std::size_t{2}));
}

}  // namespace
