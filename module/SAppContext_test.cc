// What the session context keeps that no trace can show: the user info
// fields the module stores but never sends (asid, udb, cookie), and the
// order in which it lets go of the host's objects. Everything
// the context does through its session is tested by the scenario folder.
#include "module/SAppContext.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "standin/pktcore/StandinSession.h"
#include "module/ISessionMod.h"
#include "module/SAppModule.h"
#include "standin/tarnbase/StandinDatabase.h"

namespace {

using protocol::session::SessionEvent;

SessionEvent event(int32_t type) {
    SessionEvent e;
    e.type = type;
    return e;
}

TEST(SAppContextTest, UserInfoKeepsEveryFieldItsEventsReport) {
    standin::Session session(1234);
    SAppContext context(&session);  // no module: no rebind

    SessionEvent ids = event(8000);
    ids.sid = 7;
    ids.asid = 1234;
    session.deliverEvent(ids);
    SessionEvent pid = event(8005);
    pid.pid = 66;
    session.deliverEvent(pid);
    SessionEvent info = event(8002);
    info.sid = 1234;
    info.uid = 0x1122334455667788;
    info.udb = std::string("u\0b", 3);
    info.cookie = "cookie";
    info.asid = 99;  // not read for 8002
    info.pid = 99;
    session.deliverEvent(info);

    const ProtoUInfo& user = context.link().userInfo();
    EXPECT_EQ(user.getSid(), 1234u);
    EXPECT_EQ(user.getAsid(), 1234u);
    EXPECT_EQ(user.getPid(), 66u);
    EXPECT_EQ(user.getUid(), 0x1122334455667788u);
    EXPECT_EQ(user.getUdb(), std::string("u\0b", 3));
    EXPECT_EQ(user.getCookie(), "cookie");

    SessionEvent other = event(8001);
    other.asid = 5;
    session.deliverEvent(other);
    EXPECT_EQ(user.getAsid(), 1234u);
    context.close();
}

// A session whose queue notes which database references were already
// released when the query's task is removed.
class ReleaseOrderSession : public standin::Session {
public:
    explicit ReleaseOrderSession(uint32_t sid) : standin::Session(sid), m_queue(*this) {}
    IProtoTaskQueue* getTaskQueue() override { return &m_queue; }
    std::string releasedAtTaskRemoval;

private:
    struct Queue : standin::TaskQueue {
        explicit Queue(ReleaseOrderSession& session) : standin::TaskQueue(session), m_session(session) {}
        void removeTask(IProtoTask* task) override {
            m_session.releasedAtTaskRemoval = standin::databaseReleaseOrder();
            standin::TaskQueue::removeTask(task);
        }
        ReleaseOrderSession& m_session;
    };
    Queue m_queue;
};

// The context closes its parts in the order it built them: the channel data
// helper (database, table, field object) before the query, whose close
// removes its task.
TEST(SAppContextTest, DatabaseReferencesGoBeforeTheQueryRemovesItsTask) {
    standin::removeAllDatabases();
    standin::setChannelValue(1234, L"dwSGroupId", 1);
    ReleaseOrderSession session(1234);
    SAppContext context(&session);
    session.deliverEvent(event(8007));  // the query queues its task
    context.close();
    EXPECT_EQ(session.releasedAtTaskRemoval, "dtf");
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 0);
    standin::removeAllDatabases();
}

// Closing under a host whose every removal throws: each step is still taken,
// the first exception leaves, and destroying the closed context afterwards
// calls the host no more (a call there could only end the process).
TEST(SAppContextTest, ClosingUnderAThrowingHostLetsGoOfEverythingAndDestroyingCallsNoHost) {
    standin::removeAllDatabases();
    standin::setChannelValue(1234, L"dwSGroupId", 1);
    standin::Session session(1234);
    auto context = std::make_unique<SAppContext>(&session);
    session.deliverEvent(event(8007));  // the query queues its task
    ASSERT_EQ(session.taskQueue().queuedCount(), 1u);
    session.setFault(standin::HostCall::RemoveWatcher, standin::FaultMode::Always);
    session.setFault(standin::HostCall::RemoveTask, standin::FaultMode::Always);
    standin::setHostFault(standin::HostCall::ReleaseRef, standin::FaultMode::Always);
    try {
        context->close();
        ADD_FAILURE() << "close passed on no exception";
    } catch (const standin::HostFault& fault) {
        EXPECT_EQ(fault.call(), standin::HostCall::RemoveWatcher) << "the first one";
    }
    standin::resetHostFaults();
    EXPECT_EQ(session.watcherCount(), 0u);
    EXPECT_EQ(session.taskQueue().queuedCount(), 0u);
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 0);
    std::vector<standin::HostCall> failed;
    for (const standin::Entry& entry : session.entries()) {
        if (const auto* fault = std::get_if<standin::FaultCall>(&entry)) failed.push_back(fault->call);
    }
    EXPECT_EQ(failed, (std::vector<standin::HostCall>{standin::HostCall::RemoveWatcher, standin::HostCall::RemoveTask}));

    std::vector<standin::HostCall> calledWhileDestroyed;
    standin::setHostCallWatch([&](standin::HostCall call) {
        calledWhileDestroyed.push_back(call);
        return true;
    });
    context.reset();
    standin::setHostCallWatch({});
    EXPECT_TRUE(calledWhileDestroyed.empty());
    standin::removeAllDatabases();
}

// A rebind names the target id first and moves the context into it: onto
// its own id that would be the context displacing itself. It changes
// nothing instead, and the session stays watched.
TEST(SAppModuleTest, ARebindOntoItsOwnIdChangesNothing) {
    standin::Session session(1234);
    SAppModule* module = SAppModule::getInstance(&session);
    const SAppContext* context = module->findSession(1234);
    ASSERT_NE(context, nullptr);
    module->rebind(1234, 1234);
    EXPECT_EQ(module->findSession(1234), context);
    EXPECT_EQ(session.watcherCount(), 1u);
    SAppModule::release(1234);
    EXPECT_EQ(session.watcherCount(), 0u);
}

// A's session reports sid 5 (A's own key) and asid 7 (B's key): B's context
// moves under 5, displacing A while A's own event call runs. A is closed at
// once (its session unwatched), kept alive past that call, and ignores a
// host that calls it again; B's context answers under 5.
TEST(SAppModuleTest, ARebindThatDisplacesTheCallingContextClosesItAndKeepsItAlive) {
    standin::Session a(5);
    standin::Session b(7);
    SAppModule* module = SAppModule::getInstance(&a);
    module->addSession(&b);
    SAppContext* contextA = module->findSession(5);
    SAppContext* contextB = module->findSession(7);
    ASSERT_NE(contextA, nullptr);
    ASSERT_NE(contextB, nullptr);

    SessionEvent rebind = event(protocol::session::EVENT_SESS_SID_ASID);
    rebind.sid = 5;
    rebind.asid = 7;
    a.deliverEvent(rebind);
    EXPECT_EQ(module->findSession(5), contextB);
    EXPECT_EQ(module->findSession(7), nullptr);
    EXPECT_EQ(a.watcherCount(), 0u);
    EXPECT_EQ(b.watcherCount(), 1u);
    contextA->onSessionEvent(rebind);  // closed: does nothing
    contextA->onSessionEvent(event(protocol::session::EVENT_SESS_PID));
    EXPECT_EQ(module->findSession(5), contextB);

    SAppModule::release(5);
    EXPECT_EQ(b.watcherCount(), 0u);
}

// A host that breaks the one-call-at-a-time rule: it leaves the session from
// inside the module's sendRequest, which would free the context the query
// is still running in.
class ReenteringSession : public standin::Session {
public:
    using standin::Session::Session;
    void sendRequest(const SessionRequest& request) override {
        standin::Session::sendRequest(request);
        if (pMod) pMod->onLeave(getSid());
    }
    ISessionMod* pMod = nullptr;
};

TEST(SAppContextDeathTest, ACallFromInsideAHostCallbackIsNamedWithTheCallItInterrupts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ReenteringSession session(1234);
            session.pMod = getModule(&session);
            session.deliverEvent(event(8007));  // the query sends at once
        },
        "sapp: onLeave was called while onSessionEvent had not returned");
}

}  // namespace
