// The fault switches and the watch of the stand-in host: who decides, what a
// failing call leaves done, and that every call can be told apart by name.
#include "standin/tarnbase/HostFaults.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "host/Pktcore.h"
#include "host/Tarnbase.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinDatabase.h"
#include "standin/tarnbase/StandinLog.h"

namespace {

using standin::FaultMode;
using standin::HostCall;
using standin::HostFault;

class HostFaultsTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        standin::setHostCallWatch({});
        standin::setHostThrowObserver({});
        standin::resetHostFaults();
        standin::resetLog();
        standin::removeAllDatabases();
    }
};

// A scenario's fault step and the sweep's report name calls; two calls with
// one name would make either ambiguous.
TEST_F(HostFaultsTest, EveryCallHasItsOwnNameAndFunction) {
    std::set<std::string> names;
    std::set<std::string> functions;
    for (const HostCall call : standin::kHostCalls) {
        EXPECT_TRUE(names.insert(standin::hostCallName(call)).second) << standin::hostCallName(call);
        EXPECT_TRUE(functions.insert(standin::hostCallFunction(call)).second) << standin::hostCallFunction(call);
        HostCall named = HostCall::SendRequest;
        ASSERT_TRUE(standin::hostCallNamed(standin::hostCallName(call), named));
        EXPECT_EQ(named, call);
        EXPECT_EQ(HostFault(call).what(), std::string("host fault: ") + standin::hostCallName(call));
    }
    HostCall unknown = HostCall::SendRequest;
    EXPECT_FALSE(standin::hostCallNamed("write", unknown)) << "the log sink's write is LogExport::write";
}

// A process switch fails the call before it does anything, tells the
// observer first, and a Once switch fails one call only.
TEST_F(HostFaultsTest, AProcessSwitchFailsItsCallWithoutEffectAfterTellingTheObserver) {
    std::vector<HostCall> observed;
    std::size_t recordsWhenObserved = 99;
    standin::setHostFaultObserver([&](HostCall call) {
        observed.push_back(call);
        recordsWhenObserved = standin::logRecords().size();
    });
    LogExport* sink = GetLogInstance(L"vessaprotocol.lg");
    ASSERT_NE(sink, nullptr);
    standin::setHostFault(HostCall::Write, FaultMode::Once);
    EXPECT_THROW(sink->write(1, "c", "f", 1, "m", L"lost", "mod"), HostFault);
    sink->write(1, "c", "f", 2, "m", L"kept", "mod");
    ASSERT_EQ(standin::logRecords().size(), 1u);
    EXPECT_EQ(standin::logRecords()[0].text, L"kept");
    EXPECT_EQ(observed, std::vector<HostCall>{HostCall::Write});
    EXPECT_EQ(recordsWhenObserved, 0u);

    standin::setHostFault(HostCall::GetLogInstance, FaultMode::Always);
    const unsigned asked = standin::getLogInstanceCalls();
    EXPECT_THROW(GetLogInstance(L"vessaprotocol.lg"), HostFault);
    EXPECT_THROW(GetLogInstance(L"vessaprotocol.lg"), HostFault);
    EXPECT_EQ(standin::getLogInstanceCalls(), asked) << "a failing call counts for nothing";
    standin::setHostFault(HostCall::GetLogInstance, FaultMode::Off);
    EXPECT_EQ(GetLogInstance(L"vessaprotocol.lg"), sink);

    ProtoUInfo user;
    user.setSid(5);
    standin::setHostFault(HostCall::UInfoSetSid, FaultMode::Once);
    EXPECT_THROW(user.setSid(6), HostFault);
    EXPECT_EQ(user.getSid(), 5u) << "a failing setter changes nothing";
}

// releaseRef, like removeWatcher and removeTask, takes effect before it
// throws: a module lets go of its reference either way.
TEST_F(HostFaultsTest, AFailingReleaseRefStillReleases) {
    standin::setChannelValue(7, L"dwSGroupId", 1);
    comptr<Data::IDatabase> db = Data::queryDatabase(7);
    ASSERT_TRUE(db);
    ASSERT_EQ(standin::outstandingDatabaseRefs(), 1);
    standin::setHostFault(HostCall::ReleaseRef, FaultMode::Once);
    EXPECT_THROW(db.reset(), HostFault);
    EXPECT_FALSE(db);
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 0);
    EXPECT_EQ(standin::databaseRefErrors(), 0);

    standin::setHostFault(HostCall::QueryDatabase, FaultMode::Once);
    EXPECT_THROW(Data::queryDatabase(7), HostFault);
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 0);
}

// The watch sees every host call, whoever owns it, and fails those it
// answers true for: a session records the fault like one of its own.
TEST_F(HostFaultsTest, TheWatchSeesAndFailsCallsOfSessionsPacketsAndTheProcess) {
    std::vector<HostCall> seen;
    standin::setHostCallWatch([&](HostCall call) {
        seen.push_back(call);
        return call == HostCall::SendRequest || call == HostCall::GetUri || call == HostCall::Net2App;
    });
    standin::Session session(9);
    EXPECT_EQ(session.getSid(), 9u);
    EXPECT_THROW(session.sendRequest(SessionRequest{}), HostFault);
    ASSERT_EQ(session.entries().size(), 1u);
    EXPECT_TRUE(std::holds_alternative<standin::FaultCall>(session.entries()[0]));

    standin::Packet packet(1, 200, "");
    std::vector<HostCall> packetFaults;
    packet.setFaultObserver([&](HostCall call) { packetFaults.push_back(call); });
    EXPECT_THROW(packet.getUri(), HostFault);
    EXPECT_EQ(packet.getResCode(), 200u);
    EXPECT_EQ(packetFaults, std::vector<HostCall>{HostCall::GetUri});

    EXPECT_THROW(ProtoA2U::net2app("x"), HostFault);
    EXPECT_EQ(seen, (std::vector<HostCall>{HostCall::GetSid, HostCall::SendRequest, HostCall::GetUri,
                                           HostCall::GetResCode, HostCall::Net2App}));

    standin::setHostCallWatch({});
    EXPECT_EQ(ProtoA2U::net2app("x"), L"x");
    EXPECT_EQ(seen.size(), 5u) << "no watch, nothing seen";
}

// The throw observer hears of every host call that throws, whatever made
// it (a session's, a packet's or the process's switch, the watch, a channel
// database set to throw), with the exception about to leave, and of no
// call that returns.
TEST_F(HostFaultsTest, TheThrowObserverHearsOfEveryThrowWhateverMadeIt) {
    std::vector<std::string> heard;
    standin::setHostThrowObserver([&](HostCall call, const std::exception& thrown) {
        heard.push_back(std::string(standin::hostCallName(call)) + ": " + thrown.what());
    });
    standin::setHostCallWatch([](HostCall call) { return call == HostCall::Net2App; });
    standin::Session session(9);
    session.setFault(HostCall::AddTask, FaultMode::Once);
    EXPECT_THROW(session.getTaskQueue()->addTask(nullptr, 5), HostFault);
    standin::Packet packet(1, 200, "");
    packet.setFault(HostCall::GetBody, FaultMode::Once);
    EXPECT_THROW(packet.getBody(), HostFault);
    standin::setHostFault(HostCall::GetUid32, FaultMode::Once);
    EXPECT_THROW(ProtoHelper::getUid32(1), HostFault);
    EXPECT_THROW(ProtoA2U::net2app("x"), HostFault);
    standin::setChannelValue(7, L"dwSGroupId", 1);
    standin::setQueryThrows(7, true);
    EXPECT_THROW(Data::queryDatabase(7), std::runtime_error);
    standin::setQueryThrows(7, false);
    EXPECT_TRUE(Data::queryDatabase(7));
    EXPECT_EQ(session.getSid(), 9u);
    EXPECT_EQ(heard, (std::vector<std::string>{
                         "addTask: host fault: addTask", "getBody: host fault: getBody",
                         "ProtoHelper::getUid32: host fault: ProtoHelper::getUid32",
                         "ProtoA2U::net2app: host fault: ProtoA2U::net2app",
                         "queryDatabase: queryDatabase: the channel database of sid 7 cannot be read"}));
}

// Each owner's calls fail only through its own switches.
TEST_F(HostFaultsTest, SwitchesTakeOnlyTheirOwnersCalls) {
    standin::Session session(9);
    standin::Packet packet(1, 200, "");
    EXPECT_THROW(standin::setHostFault(HostCall::SendRequest, FaultMode::Once), std::invalid_argument);
    EXPECT_THROW(standin::setHostFault(HostCall::Unmarshal, FaultMode::Once), std::invalid_argument);
    EXPECT_THROW(session.setFault(HostCall::Write, FaultMode::Once), std::invalid_argument);
    EXPECT_THROW(session.setFault(HostCall::GetUri, FaultMode::Once), std::invalid_argument);
    EXPECT_THROW(packet.setFault(HostCall::RemoveTask, FaultMode::Once), std::invalid_argument);
}

}  // namespace
