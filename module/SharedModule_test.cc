// The shipped library as a host sees it: this executable links the shared
// module (sapp.dll / libsapp.so), not its objects, so every call below
// crosses the library boundary.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "marshal/Errors.h"
#include "module/ISessionMod.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinDatabase.h"
#include "standin/tarnbase/StandinLog.h"

namespace {

#if defined(_WIN32)
constexpr const char* kLibraryName = "sapp.dll";
#else
constexpr const char* kLibraryName = "libsapp.so";
#endif

constexpr uint32_t kSid = 4242;

class SharedModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::resetLog();
        standin::removeAllDatabases();
        module = getModule(&session);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override {
        module->onLeave(kSid);
        releaseModule(kSid);
        standin::removeAllDatabases();
        standin::resetLog();
    }

    standin::Session session{kSid};
    ISessionMod* module = nullptr;
};

TEST_F(SharedModuleTest, LogLinesNameTheLibraryItself) {
    const auto records = standin::logRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().text, L"[sapp] SAppModule::getInstance");
    for (const auto& record : records) EXPECT_EQ(record.module, kLibraryName) << record.macro;
}

TEST_F(SharedModuleTest, InterfaceCallsReachTheSessionsTables) {
    EXPECT_EQ(module->getUriCount(), 6u);
    EXPECT_EQ(module->getReqTypeCount(), 1u);
    EXPECT_EQ(module->getModFlag(), 1);
}

// A record that fails to decode leaves the library as pakt::UnpackError and
// is caught here by its type (and by its bases).
TEST_F(SharedModuleTest, DecodingErrorsLeaveTheLibraryWithTheirType) {
    standin::Packet truncated(protocol::session::URI_ADD_APP_REQ, 200, std::string("\xd2\x04", 2));
    try {
        module->onPacket(kSid, &truncated);
        ADD_FAILURE() << "no exception";
    } catch (const pakt::UnpackError& e) {
        EXPECT_STREQ(e.what(), "pop_uint32: not enough data");
    } catch (...) {
        ADD_FAILURE() << "an exception of another type";
    }
    EXPECT_THROW(module->onPacket(kSid, &truncated), pakt::PacketError);
    EXPECT_THROW(module->onPacket(kSid, &truncated), std::runtime_error);
}

}  // namespace
