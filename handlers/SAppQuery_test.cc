#include "handlers/SAppQuery.h"

#include <gtest/gtest.h>

#include "module/test_harness.h"

namespace {

using protocol::session::SessionEvent;
using sapp::testing::bytes;
using sapp::testing::sessionEvent;
using sapp::testing::OpenSessionTest;
using Strings = std::vector<std::string>;

class QueryTest : public OpenSessionTest {
protected:
    void prepareHost() override { standin::setChannelValue(1234, L"dwSGroupId", 78); }
    void SetUp() override {
        OpenSessionTest::SetUp();
        SessionEvent info;
        info.type = 8002;
        info.sid = 1234;
        info.uid = 0x0000000500000009;
        session.deliverEvent(info);
        clearRecords();
    }
    void startQuery() {
        SessionEvent e;
        e.type = 8007;
        session.deliverEvent(e);
    }
    std::size_t requestCount() const { return session.requests().size(); }
};

TEST_F(QueryTest, StartSendsAtOnceWithTheUsersIdsAndTheChannelsSubGroup) {
    startQuery();
    const auto requests = session.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].uri, 256466u);
    EXPECT_EQ(requests[0].body, bytes("09000000 d2040000 4e000000 00000000 00000000 0000"));
    EXPECT_EQ(logs(), Strings{"[sapp] SAppQuery::query, retry= 0"});
}

TEST_F(QueryTest, WithoutAnswerTwoRequestsThenOnlyLogLines) {
    startQuery();
    standin::advanceClock(4999);
    EXPECT_EQ(requestCount(), 1u);
    standin::advanceClock(1);
    EXPECT_EQ(requestCount(), 2u);
    clearLogs();
    standin::advanceClock(5000);
    EXPECT_EQ(logs(), (Strings{"[sapp] SAppQuery::query, retry= 2", "[sapp] SAppQuery::query, reach max retry."}));
    clearLogs();
    standin::advanceClock(5000);
    EXPECT_EQ(logs(), (Strings{"[sapp] SAppQuery::query, retry= 3", "[sapp] SAppQuery::query, reach max retry."}));
    EXPECT_EQ(requestCount(), 2u);
    session.deliverEvent(sessionEvent(8003));
}

TEST_F(QueryTest, AnAnswerStopsTheRetries) {
    startQuery();
    standin::Packet answer(256978, 200, bytes("d2040000 00000000 00000000 00000000 00 00000000 00 00000000"
                                              "00000000 00000000 00000000"));
    module->onPacket(1234, &answer);
    standin::advanceClock(20000);
    EXPECT_EQ(requestCount(), 1u);
    const Strings lines = logs();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[sapp] SAppQuery::onResult"), lines.end());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[sapp] SAppQuery::query, retry= 1"), 0);
}

TEST_F(QueryTest, LeavingBeforeAnyAnswerKeepsTheAttemptCount) {
    startQuery();
    session.deliverEvent(sessionEvent(8003));
    standin::advanceClock(10000);
    EXPECT_EQ(requestCount(), 1u);
    clearLogs();
    startQuery();
    EXPECT_EQ(requestCount(), 2u);
    EXPECT_EQ(logs(), Strings{"[sapp] SAppQuery::query, retry= 1"});
    clearLogs();
    startQuery();
    EXPECT_EQ(requestCount(), 2u) << "the third attempt only logs";
    EXPECT_EQ(logs(), (Strings{"[sapp] SAppQuery::query, retry= 2", "[sapp] SAppQuery::query, reach max retry."}));
    session.deliverEvent(sessionEvent(8003));
}

TEST_F(QueryTest, WithoutChannelDatabaseTheRequestCarriesSubGroupZero) {
    standin::removeAllDatabases();
    standin::Session& other = makeSession(77);
    ISessionMod* m = getModule(&other);
    other.clearEntries();
    clearLogs();
    SessionEvent e;
    e.type = 8007;
    other.deliverEvent(e);
    ASSERT_EQ(other.requests().size(), 1u);
    EXPECT_EQ(other.requests()[0].body.substr(8, 4), bytes("00000000"));
    EXPECT_EQ(logs(), (Strings{"[sapp] SAppQuery::query, retry= 0",
                               "[sapp] SAppDCHelper::getSGroupId, m_pChlFld==NULL."}));
    m->onLeave(77);
}

}  // namespace
