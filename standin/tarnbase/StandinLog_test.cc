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

// Lines go to the observer, in call order, with all seven values, and are
// kept only while no observer is set.
TEST_F(StandinLogTest, SinkAndDoLog2HandAllSevenValuesInCallOrderToTheObserverOrKeepThem) {
    std::vector<standin::LogRecord> observed;
    standin::setLogObserver([&](const standin::LogRecord& record) { observed.push_back(record); });
    LogExport* sink = GetLogInstance(L"vessaprotocol.lg");
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(GetLogInstance(L"other.lg"), sink) << "one sink for every file name";
    EXPECT_EQ(standin::lastLogInstanceName(), L"other.lg");

    sink->write(1, "ProtocolSession", "SAppLog", 10, "SAPP_LOG", L"[sapp] x", "sapp.dll");
    DoLog2(3, "Cat", "ProtoLog", 54, "PLOG", L"[sess] \u00e9 7", "m.dll");
    sink->write(2, nullptr, nullptr, 0, nullptr, nullptr, nullptr);

    ASSERT_EQ(observed.size(), 3u);
    EXPECT_EQ(fields(observed[0]),
              Fields(1, "ProtocolSession", "SAppLog", 10, "SAPP_LOG", L"[sapp] x", "sapp.dll", true));
    EXPECT_EQ(fields(observed[1]), Fields(3, "Cat", "ProtoLog", 54, "PLOG", L"[sess] \u00e9 7", "m.dll", false));
    // Null pointers are recorded as empty strings rather than crashing.
    EXPECT_EQ(fields(observed[2]), Fields(2, "", "", 0, "", L"", "", true));
    EXPECT_TRUE(standin::logRecords().empty()) << "an observed line is not kept";

    standin::setLogObserver(nullptr);
    DoLog2(3, "Cat", "ProtoLog", 54, "PLOG", L"kept", "m.dll");
    const auto kept = standin::logRecords();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(fields(kept[0]), Fields(3, "Cat", "ProtoLog", 54, "PLOG", L"kept", "m.dll", false));
    EXPECT_EQ(observed.size(), 3u);
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
