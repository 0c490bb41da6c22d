#include "standin/tarnbase/StandinLog.h"

#include <gtest/gtest.h>

#include <tuple>

#include "host/Tarnbase.h"

namespace {

auto fields(const standin::LogRecord& r) {
    return std::tie(r.level, r.category, r.file, r.line, r.macro, r.text, r.module, r.viaSink);
}
using Fields =
    std::tuple<unsigned short, std::string, std::string, unsigned short, std::string, std::wstring, std::string, bool>;

class StandinLogTest : public ::testing::Test {
protected:
    void SetUp() override { standin::resetLog(); }
    void TearDown() override { standin::resetLog(); }
};

TEST_F(StandinLogTest, SinkAndDoLog2RecordAllSevenValuesInCallOrderForTheObserver) {
    std::vector<std::size_t> seenAt;  // the record count the observer finds
    standin::setLogObserver([&](const standin::LogRecord&) { seenAt.push_back(standin::logRecords().size()); });
    LogExport* sink = GetLogInstance(L"vessaprotocol.lg");
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(GetLogInstance(L"other.lg"), sink) << "one sink for every file name";
    EXPECT_EQ(standin::lastLogInstanceName(), L"other.lg");

    sink->write(1, "ProtocolSession", "SAppLog", 10, "SAPP_LOG", L"[sapp] x", "sapp.dll");
    DoLog2(3, "Cat", "ProtoLog", 54, "PLOG", L"[sess] \u00e9 7", "m.dll");
    sink->write(2, nullptr, nullptr, 0, nullptr, nullptr, nullptr);

    const auto records = standin::logRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(fields(records[0]),
              Fields(1, "ProtocolSession", "SAppLog", 10, "SAPP_LOG", L"[sapp] x", "sapp.dll", true));
    EXPECT_EQ(fields(records[1]), Fields(3, "Cat", "ProtoLog", 54, "PLOG", L"[sess] \u00e9 7", "m.dll", false));
    // Null pointers are recorded as empty strings rather than crashing.
    EXPECT_EQ(fields(records[2]), Fields(2, "", "", 0, "", L"", "", true));
    EXPECT_EQ(seenAt, (std::vector<std::size_t>{1, 2, 3}));
}

TEST_F(StandinLogTest, ResetRestoresTheDefaultsAndDropsTheObserver) {
    standin::setLogSinkAvailable(false);
    EXPECT_EQ(GetLogInstance(L"a.lg"), nullptr);
    DoLog2(1, "c", "f", 1, "m", L"t", "mod");
    standin::setLogObserver([](const standin::LogRecord&) { ADD_FAILURE() << "reset drops the observer"; });
    standin::resetLog();
    EXPECT_NE(GetLogInstance(L"a.lg"), nullptr);
    EXPECT_EQ(standin::getLogInstanceCalls(), 1u);
    DoLog2(1, "c", "f", 1, "m", L"t", "mod");
    EXPECT_EQ(standin::logRecords().size(), 1u);
}

}  // namespace
