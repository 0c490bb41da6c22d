// What no trace shows of the app manager: the result of sendAppMsg, which
// its only caller ignores, the registry after deletes and failed notices,
// and the kept records' large paths (the application of app-list packs:
// AppPacks_test.cc). Everything the app manager sends, posts and logs is
// tested by the scenario folder.
#include "appmgr/SAppMgr.h"

#include <gtest/gtest.h>


#include "appmgr/test_registry.h"
#include "marshal/BlockBuffer.h"
#include "marshal/Errors.h"
#include "marshal/Pack.h"
#include "host/Pktcore.h"
#include "protocol/AppPayloads.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "support/SessionLink.h"

namespace {

using namespace protocol::session;
namespace pl = vessaplugin::appMgr;

using namespace appmgr_test;

// The payload of an SDK V3 add of app `appId` with one proxy.
std::string addPayload(uint32_t appId) {
    AppInfoPack3 info;
    info.appId = appId;
    info.proxyIds = {50};
    return bytesOf(info);
}

// The add of `payload`, carried under `carrierAppId` (which gets the SDK version).
PAppMsgToClientView platformAdd(uint32_t carrierAppId, const std::string& payload, uint32_t seqNum) {
    PAppMsgToClientView msg;
    msg.appId = carrierAppId;
    msg.srcId = 1;
    msg.seqNum = seqNum;
    msg.appMsgType = kAppMsgAddApp;
    msg.data = payload;
    return msg;
}

class SAppMgrTest : public ::testing::Test {
protected:
    standin::Session session{1234};
    StandinLink link{session};
    SAppMgr mgr{link.link};
};

TEST_F(SAppMgrTest, SendAppMsgTellsWhetherTheAppCanBeReached) {
    EXPECT_FALSE(mgr.sendAppMsg(5, "x")) << "no proxies";
    const std::string add5 = addPayload(5);
    mgr.onAppDlMsgV3(platformAdd(6, add5, 1));
    EXPECT_FALSE(mgr.sendAppMsg(5, "x")) << "proxies, no SDK version";
    mgr.onAppDlMsgV3(platformAdd(5, add5, 2));
    EXPECT_TRUE(mgr.sendAppMsg(5, "x"));
    EXPECT_EQ(session.requests().size(), 1u);
}

// An SDK V3 delete names its app in its body, which may be one the
// registry has never heard of: nothing is deleted, nothing posted.
TEST_F(SAppMgrTest, AV3DeleteOfAnUnknownAppChangesNothing) {
    const std::string add5 = addPayload(5);
    mgr.onAppDlMsgV3(platformAdd(5, add5, 1));
    const std::size_t events = session.events().size();
    const std::string delete77 = addPayload(77);
    PAppMsgToClientView del = platformAdd(5, delete77, 2);
    del.appMsgType = kAppMsgDeleteApp;
    mgr.onAppDlMsgV3(del);
    EXPECT_EQ(session.events().size(), events);
    EXPECT_TRUE(mgr.sendAppMsg(5, "x")) << "app 5 keeps its proxy";
}

// The SDK V2 add of `appId` through proxy `proxyId`, or its delete.
PUserMsg3View platformV2(uint32_t appId, uint64_t proxyId, uint16_t type, uint32_t seqNum, std::string& holder) {
    AppInfoPack info;
    info.appId = appId;
    info.proxyId = proxyId;
    holder = bytesOf(AppHeaderV2{seqNum, static_cast<uint8_t>(type), appId}) + bytesOf(info);
    PUserMsg3View msg;
    msg.msgType = 1;
    msg.proxyId = proxyId;
    msg.data = holder;
    return msg;
}

// A deleted app keeps an entry (the source of its last downlink message,
// and after the app platform's delete, its owner), and nothing else of it:
// when the app platform adds it again, its proxies are only the new one.
TEST_F(SAppMgrTest, AnAppAddedAgainAfterItsDeleteHasOnlyItsNewProxies) {
    pl::PluginAppPackMap packs;
    packs.apps[5].appId = 5;
    packs.apps[5].proxyIds = {1, 2};
    packs.apps[5].sdkVersion = 2;
    const std::string packBytes = bytesOf(packs);
    PAddAppReqView add;
    add.appPacks = packBytes;
    add.appIds = {5};
    mgr.onAddAppReq(add);
    const std::string appData = "d";
    PAppMsgToClientView data = platformAdd(5, appData, 1);
    data.appMsgType = kAppMsgAppData;
    mgr.onAppDlMsgV3(data);
    ASSERT_EQ(uplink(mgr, session, 5), "V2 1 2");

    const std::string noSidApps = bytesOf(pl::PluginSid2AppsMap{});
    PDelAppReqView del;
    del.sidApps = noSidApps;
    del.appIds = {5};
    mgr.onDelAppReq(del);
    ASSERT_EQ(uplink(mgr, session, 5), "none");

    std::string holder;
    mgr.onAppDlMsgV2(platformV2(5, 3, kAppMsgAddApp, 1, holder));
    EXPECT_EQ(uplink(mgr, session, 5), "V2 3");

    mgr.onAppDlMsgV2(platformV2(5, 3, kAppMsgDeleteApp, 2, holder));
    EXPECT_EQ(uplink(mgr, session, 5), "none");
    mgr.onAppDlMsgV2(platformV2(5, 4, kAppMsgAddApp, 1, holder));
    EXPECT_EQ(uplink(mgr, session, 5), "V2 4");
}

// The records of data messages and of uplinks are filled anew for each
// message, and let go of their storage after a large one: each still
// carries its own message whole, after a longer one, after a large one and
// after a short one.
TEST_F(SAppMgrTest, ReusedRecordsCarryEachMessageWhole) {
    const std::string add5 = addPayload(5);
    mgr.onAppDlMsgV3(platformAdd(5, add5, 1));  // app 5: SDK V3, proxy 50
    std::string holder;
    mgr.onAppDlMsgV2(platformV2(6, 60, kAppMsgAddApp, 1, holder));  // app 6: SDK V2, proxy 60
    uint32_t seqNum = 1;
    for (const std::size_t size : {300u, 5u, 70000u, 3u, 64u * 1024u, 1u}) {
        SCOPED_TRACE(size);
        const std::string message(size, static_cast<char>('a' + size % 26));
        PAppMsgToClientView data = platformAdd(5, message, ++seqNum);
        data.appMsgType = kAppMsgAppData;
        mgr.onAppDlMsgV3(data);
        ASSERT_EQ(session.events().back().type, EVENT_APP_DATA);
        EXPECT_EQ(session.events().back().as<AppDataEvent>().data, message);

        ASSERT_TRUE(mgr.sendAppMsg(5, message));
        const std::string toSdkBytes = session.requests().back().body;
        PAppMsgToSDK toSdk;
        pakt::Unpack up3(toSdkBytes.data(), toSdkBytes.size());
        toSdk.unmarshal(up3);
        EXPECT_EQ(toSdk.data, message);
        EXPECT_EQ(toSdk.proxyIds, std::vector<uint64_t>{50});

        // A V2 payload holds at most 65535 bytes of app data.
        const std::string shorter = message.substr(0, 65535);
        ASSERT_TRUE(mgr.sendAppMsg(6, shorter));
        const std::string userMsgBytes = session.requests().back().body;
        PUserMsg3 userMsg;
        pakt::Unpack up2(userMsgBytes.data(), userMsgBytes.size());
        userMsg.unmarshal(up2);
        EXPECT_EQ(userMsg.proxyId, 60u);
        AppUplinkV2 payload;
        pakt::Unpack payloadUp(userMsg.data.data(), userMsg.data.size());
        pakt::unpackFields(payload, payloadUp);
        EXPECT_EQ(payload.appData, shorter);
        EXPECT_TRUE(payloadUp.empty());
    }
}

// A large data message whose post the host fails: the host's exception
// goes on to it, and the next message, small, is carried whole.
TEST_F(SAppMgrTest, ALargeMessageTheHostFailsLeavesTheNextWhole) {
    mgr.onAppDlMsgV3(platformAdd(5, addPayload(5), 1));
    const std::string bytes(70000, 'x');
    PAppMsgToClientView large = platformAdd(5, bytes, 2);
    large.appMsgType = kAppMsgAppData;
    session.setFault(standin::HostCall::PostAppEvent, standin::FaultMode::Once);
    EXPECT_THROW(mgr.onAppDlMsgV3(large), standin::HostFault);
    const std::string small = "small";
    PAppMsgToClientView next = platformAdd(5, small, 3);
    next.appMsgType = kAppMsgAppData;
    mgr.onAppDlMsgV3(next);
    ASSERT_EQ(session.events().back().type, EVENT_APP_DATA);
    EXPECT_EQ(session.events().back().as<AppDataEvent>().data, "small");
}

// An uplink to a V3 app of more proxies than the kept records hold on to
// (64 KiB of ids) names all of them, message after message.
TEST_F(SAppMgrTest, AnUplinkNamesEveryProxyOfAnAppWithThousands) {
    AppInfoPack3 info;
    info.appId = 7;
    for (uint64_t id = 1; id <= 9000; ++id) info.proxyIds.push_back(id);
    const std::string add7 = bytesOf(info);
    mgr.onAppDlMsgV3(platformAdd(7, add7, 1));
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(mgr.sendAppMsg(7, "up"));
        const std::string body = session.requests().back().body;
        PAppMsgToSDK toSdk;
        pakt::Unpack up(body.data(), body.size());
        toSdk.unmarshal(up);
        EXPECT_EQ(toSdk.proxyIds, info.proxyIds);
        EXPECT_EQ(toSdk.data, "up");
    }
}

// A notice whose second list is cut short fails with the read's own error
// and changes nothing, whether its lists are long enough to be checked
// before anything is built (about 400 KB of version items) or short enough
// to be read straight away.
TEST_F(SAppMgrTest, ANoticeWhoseListFailsLateChangesNothingShortOrLong) {
    for (const std::size_t versions : {std::size_t{10}, std::size_t{20000}}) {
        SCOPED_TRACE(versions);
        pl::PluginAppPackMap packs;
        packs.apps[7].appId = 7;
        packs.apps[7].proxyIds = {1};
        packs.apps[7].versions.resize(versions);
        const std::string packBytes = bytesOf(packs);
        pakt::BlockBuffer buffer;
        pakt::Pack cut(buffer);
        cut.push_uint32(1).push_uint32(1234).push_uint32(1);  // one sid whose list claims an id it lacks
        const std::string sidBytes(cut.data(), cut.size());
        PAddAppReqView req;
        req.appPacks = packBytes;
        req.sidApps = sidBytes;
        req.appIds = {7};
        const std::size_t events = session.events().size();
        try {
            mgr.onAddAppReq(req);
            ADD_FAILURE() << "the notice was read";
        } catch (const pakt::UnpackError& e) {
            EXPECT_STREQ(e.what(), "pop_uint32: not enough data");
        }
        EXPECT_EQ(session.events().size(), events);
        EXPECT_EQ(uplink(mgr, session, 7), "none");
    }
}


}  // namespace
