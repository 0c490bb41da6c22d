// What no trace shows of the app manager: the result of sendAppMsg, which
// its only caller ignores. Everything the app manager sends, posts and logs
// is tested by the scenario folder.
#include "appmgr/SAppMgr.h"

#include <gtest/gtest.h>

#include "marshal/BlockBuffer.h"
#include "marshal/Pack.h"
#include "module/SAppContext.h"
#include "protocol/AppPayloads.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"

namespace {

using namespace protocol::session;

// The payload of an SDK V3 add of app `appId` with one proxy.
std::string addPayload(uint32_t appId) {
    AppInfoPack3 info;
    info.appId = appId;
    info.proxyIds = {50};
    pakt::BlockBuffer buffer;
    pakt::Pack pack(buffer);
    info.marshal(pack);
    return std::string(pack.data(), pack.size());
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

TEST(SAppMgrTest, SendAppMsgTellsWhetherTheAppCanBeReached) {
    standin::Session session(1234);
    SAppContext context(nullptr, &session);
    SAppMgr& mgr = *context.appMgr();
    EXPECT_FALSE(mgr.sendAppMsg(5, "x")) << "no proxies";
    const std::string add5 = addPayload(5);
    mgr.onAppDlMsgV3(platformAdd(6, add5, 1));
    EXPECT_FALSE(mgr.sendAppMsg(5, "x")) << "proxies, no SDK version";
    mgr.onAppDlMsgV3(platformAdd(5, add5, 2));
    EXPECT_TRUE(mgr.sendAppMsg(5, "x"));
    EXPECT_EQ(session.requests().size(), 1u);
    context.close();
}

}  // namespace
