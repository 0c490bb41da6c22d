#include "module/SAppModule.h"

#include <gtest/gtest.h>

#include "module/PerfRecord.h"
#include "module/SAppContext.h"
#include "module/test_harness.h"

namespace {

using Strings = std::vector<std::string>;
using sapp::testing::ModuleTest;

using RegistryTest = ModuleTest;

TEST_F(RegistryTest, NullSessionCreatesAnEmptySingleton) {
    ISessionMod* module = getModule(nullptr);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(logs(), Strings{"[sapp] SAppModule::getInstance"});
    EXPECT_EQ(module->getUriCount(), 0u);
    EXPECT_EQ(module->getReqTypeCount(), 0u);
    uint32_t untouched = 77;
    module->getUris(&untouched);
    module->getReqTypes(&untouched);
    EXPECT_EQ(untouched, 77u);
    EXPECT_EQ(module->getModFlag(), 1);
    releaseModule(1);
}

TEST_F(RegistryTest, ReservedSessionIdsAreNeverRegistered) {
    for (uint32_t sid : {0u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(sid);
        clearLogs();
        standin::Session& session = makeSession(sid);
        ISessionMod* module = getModule(&session);
        EXPECT_EQ(logs(), (Strings{"[sapp] SAppModule::getInstance",
                                   "[sapp] SAppModule::addSession, sid= " + std::to_string(sid)}));
        EXPECT_EQ(session.watcherCount(), 0u);
        EXPECT_EQ(module->getUriCount(), 0u);
        releaseModule(sid);
    }
}

TEST_F(RegistryTest, ADuplicateSessionIdKeepsTheFirstContext) {
    standin::Session& first = makeSession(1234);
    standin::Session& second = makeSession(1234);
    ISessionMod* module = open(first);
    clearLogs();
    EXPECT_EQ(getModule(&second), module);
    EXPECT_EQ(logs(), (Strings{"[sapp] SAppModule::getInstance", "[sapp] SAppModule::addSession, sid= 1234",
                               "[sapp] SAppModule::addSession, session already exist, sid= 1234"}));
    EXPECT_EQ(first.watcherCount(), 1u);
    EXPECT_EQ(second.watcherCount(), 0u);
    EXPECT_EQ(static_cast<SAppModule*>(module)->findSession(1234)->session(), &first);
}

TEST_F(RegistryTest, TableQuestionsAreAnsweredOnceASessionExists) {
    standin::Session& session = makeSession(1234);
    ISessionMod* module = open(session);
    ASSERT_EQ(module->getUriCount(), 6u);
    std::vector<uint32_t> uris(6);
    module->getUris(uris.data());
    EXPECT_EQ(uris, (std::vector<uint32_t>{256978, 257490, 820178, 821202, 2585602, 2611202}));
    ASSERT_EQ(module->getReqTypeCount(), 1u);
    uint32_t type = 0;
    module->getReqTypes(&type);
    EXPECT_EQ(type, 1007u);
}

TEST_F(RegistryTest, LeavingAnUnknownSessionOnlyLogs) {
    ISessionMod* module = getModule(nullptr);
    clearLogs();
    module->onLeave(99);
    EXPECT_EQ(logs(), (Strings{"[sapp] SAppModule::onLeave, sid= 99", "[sapp] SAppModule::delSession, sid= 99",
                               "[sapp] SAppModule::delSession, dession doesn't exist, sid= 99"}));
    releaseModule(99);
}

TEST_F(RegistryTest, ReleaseWithoutSingletonOnlyLogs) {
    releaseModule(5);
    EXPECT_EQ(logs(), (Strings{"[sapp] SAppModule::release, enter", "[sapp] SAppModule::release, leave"}));
}

TEST_F(RegistryTest, TheSingletonLivesUntilTheLastSessionIsReleased) {
    standin::Session& a = makeSession(10);
    standin::Session& b = makeSession(20);
    ISessionMod* module = getModule(&a);
    getModule(&b);
    module->onLeave(10);
    releaseModule(10);
    EXPECT_EQ(module->getUriCount(), 6u) << "session 20 keeps the singleton";
    module->onLeave(20);
    clearLogs();
    releaseModule(20);
    EXPECT_EQ(logs(), (Strings{"[sapp] SAppModule::release, enter", "[sapp] SAppModule::~VideoModule enter",
                               "[sapp] SAppModule::~VideoModule, exit", "[sapp] SAppModule::release, leave"}));
    standin::Session& c = makeSession(30);
    ISessionMod* fresh = open(c);
    EXPECT_EQ(fresh->getUriCount(), 6u);
}

TEST_F(RegistryTest, FullTeardownOfOneSessionInOrder) {
    standin::Session& session = makeSession(1234);
    ISessionMod* module = getModule(&session);
    clearLogs();
    module->onLeave(1234);
    releaseModule(1234);
    EXPECT_EQ(logs(), (Strings{"[sapp] SAppModule::onLeave, sid= 1234", "[sapp] SAppModule::delSession, sid= 1234",
                               "[sapp] SAppContext::~SAppContext, enter", "[sapp] SAppContext::~SAppContext, exit",
                               "[sapp] SAppModule::release, enter", "[sapp] SAppModule::~VideoModule enter",
                               "[sapp] SAppModule::~VideoModule, exit", "[sapp] SAppModule::release, leave"}));
    EXPECT_EQ(session.watcherCount(), 0u);
}

TEST_F(RegistryTest, RebindMovesTheContextToTheReportedId) {
    standin::Session& session = makeSession(5);
    auto* module = static_cast<SAppModule*>(open(session));
    SAppContext* context = module->findSession(5);
    module->rebind(9, 77);  // asid not registered: nothing changes
    EXPECT_EQ(module->findSession(5), context);
    EXPECT_EQ(module->findSession(9), nullptr);
    module->rebind(7, 5);
    EXPECT_EQ(module->findSession(5), nullptr);
    EXPECT_EQ(module->findSession(7), context);
    closed(5);
    module->onLeave(7);
    releaseModule(7);
}

TEST_F(RegistryTest, PacketsAndRequestsForUnknownSessionsOrNullPacketsAreIgnored) {
    standin::Session& session = makeSession(1234);
    ISessionMod* module = open(session);
    standin::Packet packet(256978, 200, std::string());
    clearLogs();
    module->onPacket(4321, &packet);
    module->onPacket(1234, nullptr);
    AppDataRequest request;
    request.type = REQ_APP_DATA;
    module->onRequest(4321, &request);
    module->onRequest(1234, nullptr);
    module->onReserved(1234, nullptr);
    EXPECT_TRUE(logs().empty());
    EXPECT_TRUE(session.requests().empty());
}

TEST(PerfRecordTest, InstanceIsCreatedOnceAndCopiesWholeRecords) {
    Perf::CPerfRecord* instance = Perf::CPerfRecord::GetInstance();
    EXPECT_EQ(instance, Perf::CPerfRecord::GetInstance());
    EXPECT_EQ(instance, Perf::CPerfRecord::s_pImpl);
    Perf::CPerfRecord a;
    a.m_first = 1;
    a.m_second = 2;
    a.m_third = 3;
    a.m_name[0] = L'n';
    a.m_name[259] = L'z';
    Perf::CPerfRecord b;
    b = a;
    EXPECT_EQ(b.m_first, 1);
    EXPECT_EQ(b.m_third, 3);
    EXPECT_EQ(b.m_name[259], L'z');
}

}  // namespace
