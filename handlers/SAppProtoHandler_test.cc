#include "handlers/SAppProtoHandler.h"

#include <gtest/gtest.h>

#include "host/ClientEvents.h"
#include "marshal/Errors.h"
#include "module/test_harness.h"

namespace {

using protocol::session::SessionEvent;
using sapp::testing::bytes;
using sapp::testing::sessionEvent;
using sapp::testing::OpenSessionTest;
using Strings = std::vector<std::string>;

class HandlerTableTest : public OpenSessionTest {
protected:
    void deliver(uint32_t uri, uint32_t resCode, const std::string& body) {
        standin::Packet packet(uri, resCode, body);
        module->onPacket(1234, &packet);
    }
};

TEST_F(HandlerTableTest, AResultCodeOtherThan200EndsTheHandlerAfterItsLogLine) {
    const struct {
        uint32_t uri;
        Strings lines;
    } cases[] = {
        {256978, {"[sapp] SAppProtoHandler::onAddAppReq"}},
        {257490, {"[sapp] SAppProtoHandler::onDelAppReq"}},
        {2585602, {}},
        {2611202, {}},
        {821202, {"[sapp] SAppProtoHandler::onSetCurAnnouceApp"}},
        {820178, {"[sapp] SAppProtoHandler::onAddAnnouceApp"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uri);
        clearLogs();
        deliver(c.uri, 404, "garbage");
        EXPECT_EQ(logs(), c.lines);
    }
    EXPECT_TRUE(session.entries().empty());
}

TEST_F(HandlerTableTest, ARefusedAppListKeepsTheRetryTimerRunning) {
    session.deliverEvent(sessionEvent(8007));
    deliver(256978, 404, "");
    standin::advanceClock(5000);
    EXPECT_EQ(session.requests().size(), 2u);
    session.deliverEvent(sessionEvent(8003));
}

TEST_F(HandlerTableTest, AnAppListThatFailsToDecodeStillStopsTheRetryTimer) {
    session.deliverEvent(sessionEvent(8007));
    session.clearEntries();
    EXPECT_THROW(
        {
            try {
                deliver(256978, 200, bytes("d204"));
            } catch (const pakt::UnpackError& e) {
                EXPECT_STREQ(e.what(), "pop_uint32: not enough data");
                throw;
            }
        },
        pakt::UnpackError);
    const auto tasks = session.taskCalls();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].op, standin::TaskCall::Op::Remove);
}

TEST_F(HandlerTableTest, UnknownUrisAreIgnoredSilently) {
    for (uint32_t uri : {256770u, 0u, 256466u, 2611458u}) {
        deliver(uri, 200, "x");
    }
    EXPECT_TRUE(logs().empty());
    EXPECT_TRUE(session.entries().empty());
}

TEST_F(HandlerTableTest, AnnounceBodiesAreRelayedRaw) {
    deliver(820178, 200, std::string("\x01\x00\x02", 3));
    deliver(821202, 200, "");
    const auto events = session.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, 2000u);
    EXPECT_EQ(events[0].as<AnnounceAppsEvent>().body, std::string("\x01\x00\x02", 3));
    EXPECT_EQ(events[1].as<AnnounceAppsEvent>().body, "");
    EXPECT_EQ(logs(), (Strings{"[sapp] SAppProtoHandler::onAddAnnouceApp",
                               "[sess] SessionAppMgr::onAddAnnounceApps, receive onAddAnnounceApps",
                               "[sapp] SAppProtoHandler::onSetCurAnnouceApp",
                               "[sess] SessionAppMgr::onSetCurrentAnnounceApp, receive PSetCurrentAnnounceApp"}));
}

TEST_F(HandlerTableTest, ClientRequestsReachTheUplinkExceptForExcludedApps) {
    AppDataRequest request;
    request.type = REQ_APP_DATA;
    request.data = "hi";
    for (uint32_t app : {90052u, 90058u}) {
        request.appId = app;
        module->onRequest(1234, &request);
    }
    EXPECT_TRUE(logs().empty());
    request.appId = 90053;
    module->onRequest(1234, &request);
    EXPECT_EQ(logs(), Strings{"[sapp] AppMgr, No proxy found for app:  90053"});
    clearLogs();
    request.type = 1008;
    module->onRequest(1234, &request);
    EXPECT_TRUE(logs().empty());
}

}  // namespace
