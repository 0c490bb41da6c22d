// What the session context keeps that no trace can show: the user info
// fields the module stores but never sends (asid, udb, cookie). Everything
// the context does through its session is tested by the scenario folder.
#include "module/SAppContext.h"

#include <gtest/gtest.h>

#include "standin/pktcore/StandinSession.h"

namespace {

using protocol::session::SessionEvent;

SessionEvent event(int32_t type) {
    SessionEvent e;
    e.type = type;
    return e;
}

TEST(SAppContextTest, UserInfoKeepsEveryFieldItsEventsReport) {
    standin::Session session(1234);
    SAppContext context(nullptr, &session);  // no module: no rebind

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

    const ProtoUInfo& user = *context.userInfo();
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
}

}  // namespace
