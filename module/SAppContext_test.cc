#include "module/SAppContext.h"

#include <gtest/gtest.h>

#include "handlers/SAppQuery.h"
#include "module/SAppModule.h"
#include "module/test_harness.h"
#include "protocol/SessionRecords.h"

namespace {

using protocol::session::SessionEvent;
using sapp::testing::bytes;
using sapp::testing::OpenSessionTest;
using Strings = std::vector<std::string>;

SessionEvent event(int32_t type) { return sapp::testing::sessionEvent(type); }

class ContextTest : public OpenSessionTest {
protected:
    void SetUp() override {
        OpenSessionTest::SetUp();
        registry = static_cast<SAppModule*>(module);
        context = registry->findSession(1234);
    }

    SAppModule* registry = nullptr;
    SAppContext* context = nullptr;
};

TEST_F(ContextTest, ConstructionWatchesTheSessionAndHoldsItsSid) {
    standin::Session& other = makeSession(55);
    getModule(&other);
    ASSERT_EQ(other.entries().size(), 1u);
    const auto& watch = std::get<standin::WatchCall>(other.entries()[0]);
    EXPECT_EQ(watch.op, standin::WatchCall::Op::Add);
    EXPECT_EQ(registry->findSession(55)->userInfo()->getSid(), 55u);
    registry->onLeave(55);
}

TEST_F(ContextTest, SidAsidEventSetsBothAndRebindsOnlyWhenTheyDiffer) {
    SessionEvent e = event(8000);
    e.sid = 1234;
    e.asid = 1234;
    session.deliverEvent(e);
    EXPECT_EQ(context->userInfo()->getAsid(), 1234u);
    EXPECT_TRUE(logs().empty()) << "equal ids do not rebind";

    e.sid = 7;
    session.deliverEvent(e);
    EXPECT_EQ(context->userInfo()->getSid(), 7u);
    EXPECT_EQ(context->userInfo()->getAsid(), 1234u);
    EXPECT_EQ(logs(), Strings{"[sapp] SAppModule::rebind, sid/asid= 7, 1234"});
    EXPECT_EQ(registry->findSession(7), context);
    EXPECT_EQ(registry->findSession(1234), nullptr);
    closed(1234);
    registry->onLeave(7);
    releaseModule(7);
}

TEST_F(ContextTest, UserInfoEventOverwritesItsFieldsOnly) {
    SessionEvent pid = event(8005);
    pid.pid = 66;
    session.deliverEvent(pid);
    SessionEvent info = event(8002);
    info.sid = 1234;
    info.uid = 0x1122334455667788;
    info.udb = "udb";
    info.cookie = "cookie";
    session.deliverEvent(info);
    const ProtoUInfo* user = context->userInfo();
    EXPECT_EQ(user->getUid(), 0x1122334455667788u);
    EXPECT_EQ(user->getUdb(), "udb");
    EXPECT_EQ(user->getCookie(), "cookie");
    EXPECT_EQ(user->getPid(), 66u);
}

TEST_F(ContextTest, PidEventStoresThePidBeforeAskingForAnnounceApps) {
    SessionEvent info = event(8002);
    info.sid = 5;
    info.uid = 7;
    session.deliverEvent(info);
    SessionEvent pid = event(8005);
    pid.pid = 6;
    session.deliverEvent(pid);
    const auto requests = session.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].uri, 819922u);
    EXPECT_EQ(requests[0].type, 100);
    EXPECT_EQ(requests[0].body, bytes("05000000 06000000 07000000 0000"));
    EXPECT_EQ(logs(), Strings{"[sapp] SAppMgr::queryAnnounceApps"});
}

TEST_F(ContextTest, QueryEventStartsAndLeaveEventStopsTheQuery) {
    session.deliverEvent(event(8007));
    ASSERT_EQ(session.requests().size(), 1u);
    EXPECT_EQ(session.requests()[0].uri, 256466u);
    session.deliverEvent(event(8003));
    const auto tasks = session.taskCalls();
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[0].op, standin::TaskCall::Op::Add);
    EXPECT_EQ(tasks[0].interval, 5000u);
    EXPECT_EQ(tasks[1].op, standin::TaskCall::Op::Remove);
    EXPECT_EQ(logs().back(), "[sapp] SAppContext::onSessionEvent, EVENT_SESS_LEAVE");
    EXPECT_EQ(registry->findSession(1234), context) << "leaving does not destroy the context";
}

TEST_F(ContextTest, OtherEventCodesChangeNothing) {
    for (int32_t code : {8001, 8004, 8006, 8008, -1}) {
        SessionEvent e = event(code);
        e.sid = 99;
        e.pid = 99;
        session.deliverEvent(e);
    }
    EXPECT_TRUE(logs().empty());
    EXPECT_TRUE(session.entries().empty());
    EXPECT_EQ(context->userInfo()->getSid(), 1234u);
    EXPECT_EQ(context->userInfo()->getPid(), 0u);
}

TEST_F(ContextTest, DestructionUnregistersBeforeTheOwnedObjectsGo) {
    registry->onLeave(1234);
    const auto& entries = session.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(std::get<standin::WatchCall>(entries[0]).op, standin::WatchCall::Op::Remove);
    EXPECT_EQ(std::get<standin::TaskCall>(entries[1]).op, standin::TaskCall::Op::Remove)
        << "the query removes its timer when it is destroyed";
    const Strings lines = logs();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "[sapp] SAppContext::~SAppContext, enter");
    EXPECT_EQ(lines[3], "[sapp] SAppContext::~SAppContext, exit");
}

}  // namespace
