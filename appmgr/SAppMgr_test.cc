// SAppMgr driven through a real SAppContext on a stand-in session. Inbound
// payloads are hand-written bytes; the checks read what the session (requests,
// events) and the log sink recorded. The registry is observed through the
// uplink: reach() tells whether an app has proxies, which SDK version, which.
#include "appmgr/SAppMgr.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host/ClientEvents.h"
#include "marshal/Errors.h"
#include "module/SAppContext.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinLog.h"
#include "support/test_log_support.h"

namespace {

using namespace protocol::session;
using sapp::testing::loggedTexts;
using Ids = std::vector<uint64_t>;
using AppIds = std::vector<uint32_t>;
using Lines = std::vector<std::string>;

constexpr uint64_t kUid = 0x1122334455667788ull;

// Little-endian fields of hand-made wire bytes.
std::string le(uint64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}
std::string u32(uint64_t v) { return le(v, 4); }
std::string u64(uint64_t v) { return le(v, 8); }
std::string str16(const std::string& t) { return le(t.size(), 2) + t; }
std::string ids(const Ids& v) {
    std::string s = u32(v.size());
    for (uint64_t id : v) s += u64(id);
    return s;
}
// The body of a V2 data message: two ignored u32, then the data.
std::string dataBody(const std::string& data) { return u32(0) + u32(0) + str16(data); }

// AppInfoPack (V2: the first proxy) or AppInfoPack3 (V3: all of them), with
// str1 "n", num 42 and one VersionItem {1, 2, 3, "v1", "v2"}.
std::string infoPack(uint32_t appId, const Ids& proxies, bool v3, const std::string& str2 = "", bool flag = false) {
    return u32(appId) + (v3 ? ids(proxies) : u64(proxies.at(0))) + str16("n") + str16(str2) + u32(42) + u32(1) +
           u32(1) + u32(2) + u32(3) + str16("v1") + str16("v2") + le(flag ? 7 : 0, 1);
}

// A PluginAppPackMap of packs {proxies, SDK version}: three empty strings,
// u32, three u16, two u32 and a u8, all zero, come before the proxies.
std::string packMap(const std::map<uint32_t, std::pair<Ids, uint16_t>>& packs) {
    std::string s = u32(packs.size());
    for (const auto& [app, pack] : packs) {
        s += u32(app) + u32(app) + std::string(25, '\0') + ids(pack.first) + le(pack.second, 2) + str16("");
    }
    return s;
}

// A PluginSid2AppsMap listing `apps` under `sid`, with no sid attributes.
std::string sidApps(uint32_t sid, const AppIds& apps) {
    std::string s = u32(1) + u32(sid) + u32(apps.size());
    for (uint32_t app : apps) s += u32(app);
    return s + u32(0);
}

std::string zip(const std::string& plain) {
    uLongf size = compressBound(plain.size());
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()), plain.size());
    out.resize(size);
    return out;
}

template <typename Record>
Record decode(const std::string& bytes) {
    Record record;
    pakt::Unpack up(bytes.data(), bytes.size());
    record.unmarshal(up);
    return record;
}

// A session-service add of `appIds` with the packs and sid lists given.
void addApps(SAppMgr& mgr, const AppIds& appIds, const std::string& packs, const std::string& sids = "") {
    PAddAppReq req;
    req.appIds = appIds;
    req.appPacks = packs;
    req.sidApps = sids;
    mgr.onAddAppReq(req);
}

class AppMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::resetLog();
        context.userInfo()->setUid(kUid);
    }
    void forget() {
        standin::clearLogRecords();
        session.clearEntries();
    }

    void v2(uint64_t proxyId, const std::string& data, uint16_t msgType = 1) {
        PUserMsg3 msg;
        std::tie(msg.proxyId, msg.msgType, msg.data) = std::tie(proxyId, msgType, data);
        mgr.onAppDlMsgV2(msg);
    }
    void v2(uint64_t proxyId, uint32_t seq, uint8_t type, uint32_t appId, const std::string& body) {
        v2(proxyId, u32(seq) + le(type, 1) + u32(appId) + body);
    }
    void v3(uint64_t srcId, uint32_t seq, uint16_t type, uint32_t appId, const std::string& data) {
        PAppMsgToClient msg;
        std::tie(msg.srcId, msg.seqNum, msg.appMsgType, msg.appId, msg.data) = std::tie(srcId, seq, type, appId, data);
        mgr.onAppDlMsgV3(msg);
    }
    void announce(uint32_t appId, const Ids& proxies, uint16_t sdkVersion) {
        addApps(mgr, {appId}, packMap({{appId, {proxies, sdkVersion}}}));
    }

    template <typename Event>
    Event lastEvent() const {
        const std::vector<standin::PostedEvent> events = session.events();
        if (events.empty() || events.back().type != Event().type) throw std::logic_error("event missing");
        return events.back().as<Event>();
    }

    // How an uplink message of `appId` leaves: "no proxy", "no version",
    // "nothing" (accepted, not sent), else per packet its carrier and proxies.
    std::string reach(uint32_t appId) {
        const std::size_t sent = session.requests().size();
        if (!mgr.sendAppMsg(appId, "x")) {  // which of its two lines it logged
            return loggedTexts().back().find("No proxy") != std::string::npos ? "no proxy" : "no version";
        }
        std::string out;
        const std::vector<standin::SentRequest> requests = session.requests();
        for (std::size_t i = sent; i < requests.size(); ++i) {
            if (requests[i].uri == URI_USER_MSG3) {
                out += " v2:" + std::to_string(decode<PUserMsg3>(requests[i].body).proxyId);
            } else {
                out += " v3:";
                for (uint64_t id : decode<PAppMsgToSDK>(requests[i].body).proxyIds) out += std::to_string(id) + ",";
            }
        }
        return out.empty() ? "nothing" : out.substr(1);
    }

    // The first uplink number of the process: this suite runs before any other
    // uplink of the test program.
    static void SetUpTestSuite() {
        standin::Session session(1);
        SAppContext context(nullptr, &session);
        addApps(*context.appMgr(), {1}, packMap({{1, {{1}, 3}}}));
        context.appMgr()->sendAppMsg(1, "");
        firstUplinkSeq = decode<PAppMsgToSDK>(session.requests().at(0).body).seqNum;
    }
    static inline uint32_t firstUplinkSeq = 0;

    standin::Session session{77};
    SAppContext context{nullptr, &session};
    SAppMgr& mgr = *context.appMgr();
};

// --- the sequence check ----------------------------------------------------------

TEST_F(AppMgrTest, SequenceCheckKeepsTheLastNumberPerSourceAndAcceptsWrapsAndAdds) {
    const std::tuple<uint32_t, uint32_t, bool> cases[] = {  // {last, next, accepted}
        {100, 100, false}, {100, 99, false}, {100, 101, true}, {4294967000u, 5, true},
        {3000000000u, 1000000000u, true}, {3000000000u, 1000000001u, false},
        {4000000000u, 3000000000u, true},  // 3e9 + 2e9 wraps to below 4e9
    };
    uint64_t src = 1000;
    for (const auto& [last, next, accepted] : cases) {
        SCOPED_TRACE(testing::Message() << last << " then " << next);
        session.clearEntries();
        v3(++src, last, 3, 1, "d");  // a new source passes whatever its number
        v3(src, next, 3, 1, "d");
        EXPECT_EQ(session.events().size(), accepted ? 2u : 1u);
    }
    session.clearEntries();
    v3(7, 100, 3, 1, "d");
    v3(7, 99, 4, 70, infoPack(70, {1}, true));  // an add always passes, and stores its number
    v3(7, 100, 3, 1, "d");
    v2(7, 100, 3, 2, dataBody("d"));  // the number is shared by the source's apps and carriers
    v3(8, 1, 3, 1, "d");              // a second source of app 1 has its own
    EXPECT_EQ(session.events().size(), 4u);
}

// --- which service owns an app ----------------------------------------------------

TEST_F(AppMgrTest, TheFirstServiceToAnnounceAnAppOwnsIt) {
    v2(5, 1, 4, 20, infoPack(20, {5}, false));  // the app platform takes 20
    announce(21, {6}, 3);                       // the session service takes 21
    forget();
    addApps(mgr, {20, 21, 7, 7}, "");
    EXPECT_EQ(lastEvent<AppsAddedEvent>().appIds, (AppIds{21, 7, 7}));
    v3(6, 1, 4, 21, infoPack(21, {9}, true));  // platform add, update and deletes of a session app
    v3(6, 2, 5, 21, ids({9}));
    v3(6, 3, 2, 21, infoPack(21, {9}, true));
    v2(6, 4, 2, 21, infoPack(21, {9}, false));
    EXPECT_EQ(session.events().size(), 1u);
    EXPECT_EQ(reach(21), "v3:6,");

    const std::string sids = sidApps(60, {21});
    PDelAppReq del;
    del.sid = 77;
    del.sidApps = zip(sids);
    del.sidAppsZipped = 1;
    del.sidAppsLen = static_cast<uint32_t>(sids.size());
    del.appIds = {20, 21, 21, 99};
    del.context = "bye";
    mgr.onDelAppReq(del);
    const AppsDeletedEvent deleted = lastEvent<AppsDeletedEvent>();
    EXPECT_EQ(std::tie(deleted.sid, deleted.appIds, deleted.context), std::make_tuple(77u, AppIds{21}, "bye"));
    EXPECT_EQ(deleted.sidApps.sidApps.at(60).appIds, AppIds{21});
    EXPECT_EQ(reach(20), "v2:5");
    EXPECT_EQ(reach(21), "no proxy");

    // A session delete frees the id; a platform delete keeps the platform's claim.
    v3(6, 5, 4, 21, infoPack(21, {9}, true));
    EXPECT_EQ(reach(21), "v3:9,");
    v2(5, 2, 2, 20, infoPack(20, {5}, false));
    announce(20, {1}, 3);
    EXPECT_EQ(reach(20), "no proxy");
}

// --- add, update and delete notices -----------------------------------------------

TEST_F(AppMgrTest, SessionAddUnzipsItsListsAndAppliesListedPacksInTwoPasses) {
    v2(500, 900, 4, 8, infoPack(8, {3}, false));  // the app platform's 8
    v2(502, 900, 3, 9, dataBody(""));
    v2(502, 5, 3, 8, dataBody(""));  // dropped, yet 502 is now 8's last source
    v3(501, 900, 3, 7, "d");         // 7's last source
    const std::string packs = packMap({{7, {{9, 5}, 3}}, {8, {{4}, 2}}, {11, {{3}, 3}}});
    const std::string sids = sidApps(60, {8, 12});
    PAddAppReq req;
    req.sid = 77;
    req.appIds = {7};
    req.appPacks = zip(packs);
    req.appPacksZipped = 1;
    req.appPacksLen = static_cast<uint32_t>(packs.size());
    req.sidApps = zip(sids);
    req.sidAppsZipped = 0x80;
    req.sidAppsLen = static_cast<uint32_t>(sids.size());
    req.context = "ctx";
    mgr.onAddAppReq(req);
    const AppsAddedEvent event = lastEvent<AppsAddedEvent>();
    EXPECT_EQ(std::tie(event.sid, event.appIds, event.context), std::make_tuple(77u, AppIds{7}, "ctx"));
    EXPECT_EQ(event.appPacks.apps.size(), 3u) << "whole, not-accepted packs included";
    EXPECT_EQ(event.sidApps.sidApps.at(60).appIds, (AppIds{8, 12}));
    EXPECT_EQ(req.sidApps, sids) << "the record now holds the unzipped bytes";
    EXPECT_EQ(reach(7), "v3:5,9,");
    EXPECT_EQ(reach(8), "v2:4");       // second pass: listed under sid 60 only, owner not asked
    EXPECT_EQ(reach(11), "no proxy");  // listed nowhere

    // Applying a pack reset the app's last source: a low number passes again.
    forget();
    v2(502, 1, 3, 8, dataBody(""));
    v3(501, 1, 3, 7, "d");
    EXPECT_EQ(session.events().size(), 2u);
}

TEST_F(AppMgrTest, PlatformAddsUpdatesAndDeletesKeepProxiesAndVersionsPerGeneration) {
    v2(5, 1, 4, 30, infoPack(30, {9}, false, "\xc3\xa9t\xc3\xa9", true));
    const ClientAppInfo info = lastEvent<AppAddedEvent>().info;
    EXPECT_EQ(std::tie(info.appId, info.str1, info.str2, info.num, info.flag),
              std::make_tuple(30u, L"n", L"\u00e9t\u00e9", 42u, true));
    v2(6, 1, 4, 30, infoPack(30, {3}, false));  // V2 adds accumulate
    EXPECT_EQ(reach(30), "v2:3 v2:9");

    // A V3 add replaces the set under the body's app id; claim and version go to the carrier's.
    v3(6, 2, 4, 40, infoPack(41, {8, 2}, true));
    EXPECT_EQ(lastEvent<AppAddedEvent>().info.appId, 41u);
    EXPECT_EQ(reach(41), "no version");
    v3(6, 3, 5, 40, ids({4}));
    v3(6, 4, 4, 40, infoPack(40, {6}, true));
    EXPECT_EQ(reach(40), "v3:6,");
    v3(6, 5, 5, 40, ids({}));  // an empty proxy update keeps the app reachable
    EXPECT_EQ(reach(40), "v3:");

    // Deletes erase the proxies and only their own generation's version.
    v2(5, 2, 2, 30, infoPack(30, {9}, false, "gone", true));
    const AppRemovedEvent removed = lastEvent<AppRemovedEvent>();
    EXPECT_EQ(std::tie(removed.appId, removed.flag, removed.str2), std::make_tuple(30u, true, L"gone"));
    v2(5, 3, 2, 30, infoPack(30, {9}, false));  // finds no version and leaves a 0 behind
    v3(5, 4, 5, 30, ids({4}));
    EXPECT_EQ(reach(30), "nothing");
    v2(5, 5, 2, 40, infoPack(40, {9}, false));  // the V3 version stays
    v3(5, 6, 5, 40, ids({2}));
    EXPECT_EQ(reach(40), "v3:2,");
    v3(5, 7, 2, 0, infoPack(40, {}, true));  // a V3 delete names the app in its body
    EXPECT_EQ(lastEvent<AppRemovedEvent>().appId, 40u);
    EXPECT_EQ(reach(40), "no proxy");
}

// --- unpack errors ----------------------------------------------------------------

TEST_F(AppMgrTest, OnlyTheDownlinkCatchesUnpackErrorsAndEarlierChangesStay) {
    const std::string v2Error = "[sapp] AppMgr, SDK V2: appDlMsg->data Unpack Error";
    const std::string v3Error = "[sapp] AppMgr, SDK V3: appDlMsg->data Unpack Error";
    v2(5, 500, 3, 1, dataBody(""));  // source 5 at 500
    forget();
    // Cut inside the header: app 2 is not tied to source 5, so announcing 2
    // leaves the source at 500.
    v2(5, u32(1) + le(3, 1));
    announce(2, {1}, 2);
    v2(5, 1, 3, 1, dataBody(""));
    // Cut in the body: the number was taken, the same message is now a duplicate.
    v2(7, 9, 3, 3, u32(0) + u32(0) + le(5, 2));
    v2(7, 9, 3, 3, u32(0) + u32(0) + le(5, 2));
    EXPECT_EQ(loggedTexts(), (Lines{v2Error, "[sapp] AppMgr, sid/app_id= 0, 2",
                                    "[sapp] AppMgr, first packet, srcId/seqNum= 7, 9", v2Error}));
    EXPECT_EQ(session.events().size(), 1u);

    // Adds cut in the body keep the claim and the version; V3 keeps the old
    // proxies. A cut proxy update has emptied the set; cut deletes change nothing.
    v2(8, 1, 4, 50, u32(50) + u64(4));
    v3(8, 2, 5, 50, ids({3}));
    EXPECT_EQ(reach(50), "v2:3");
    v3(8, 3, 4, 50, u32(50));
    EXPECT_EQ(reach(50), "v3:3,");
    v3(8, 4, 5, 50, u32(1));
    v3(8, 5, 2, 50, u32(50));
    v2(8, 6, 2, 50, u32(50));
    EXPECT_EQ(reach(50), "v3:");
    const Lines all = loggedTexts();
    EXPECT_EQ(Lines(all.end() - 4, all.end()), (Lines{v3Error, v3Error, "[sapp] AppMgr, delete app  50", v2Error}));

    // The session service's notices let the error through before any change.
    forget();
    EXPECT_THROW(addApps(mgr, {60}, packMap({{60, {{1}, 2}}}).substr(0, 20)), pakt::UnpackError);
    PDelAppReq del;
    EXPECT_THROW(mgr.onDelAppReq(del), pakt::UnpackError);  // an empty list must still read
    EXPECT_TRUE(session.events().empty());
    v3(9, 1, 4, 60, infoPack(60, {1}, true));
    EXPECT_EQ(lastEvent<AppAddedEvent>().info.appId, 60u) << "60 was not claimed";
}

// --- uplink and announce apps ----------------------------------------------------

TEST_F(AppMgrTest, UplinkGoesToEveryProxyInTheAppsGenerationNumberedFromOneCounter) {
    EXPECT_EQ(firstUplinkSeq, 1u);
    context.userInfo()->setSid(0x01020304);
    announce(9, {9, 5}, 2);
    v3(6, 1, 4, 31, infoPack(32, {2}, true));  // proxies for 32, a version for 31
    // Another session's message of the other generation takes a number first.
    standin::Session other(88);
    SAppContext otherContext(nullptr, &other);
    otherContext.userInfo()->setUid(kUid);
    addApps(*otherContext.appMgr(), {4}, packMap({{4, {{30, 10}, 3}}}));
    EXPECT_TRUE(otherContext.appMgr()->sendAppMsg(4, "yo"));
    const standin::SentRequest v3Sent = other.requests().at(0);
    const uint32_t seq = decode<PAppMsgToSDK>(v3Sent.body).seqNum;
    EXPECT_EQ(std::tie(v3Sent.type, v3Sent.uri), std::make_tuple(100, 2611458u));
    EXPECT_EQ(v3Sent.body, u32(88) + u32(0x55667788) + u32(4) + u32(seq) + u64(0) + ids({10, 30}) + u32(0) + str16("") +
                               u32(2) + "yo");
    // Unreachable apps send nothing and leave the counter alone.
    session.clearEntries();
    EXPECT_FALSE(mgr.sendAppMsg(3, "x"));
    EXPECT_FALSE(mgr.sendAppMsg(32, "x"));
    EXPECT_TRUE(mgr.sendAppMsg(9, "hi"));
    const std::vector<standin::SentRequest> sent = session.requests();
    ASSERT_EQ(sent.size(), 2u);
    const std::string payload = u32(seq + 1) + le(3, 1) + u32(9) + u64(kUid) + u32(0x01020304) + str16("hi");
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(std::tie(sent[i].type, sent[i].uri), std::make_tuple(100, 2585602u));
        EXPECT_EQ(sent[i].body, u32(0) + u32(0) + u64(i == 0 ? 5 : 9) + u32(0) + le(1, 2) + u32(0) + u32(0) +
                                    u32(payload.size()) + payload);
    }
    // A V2 message too long for its 16-bit length uses up a number, sends nothing.
    EXPECT_THROW(mgr.sendAppMsg(9, std::string(65536, 'a')), pakt::PackError);
    EXPECT_EQ(session.requests().size(), 2u);
    otherContext.appMgr()->sendAppMsg(4, "");
    EXPECT_EQ(decode<PAppMsgToSDK>(other.requests().back().body).seqNum, seq + 3);
}

TEST_F(AppMgrTest, AnnounceAppsAreQueriedWithThePidAndRelayedRaw) {
    context.userInfo()->setSid(5);
    context.userInfo()->setPid(6);
    mgr.queryAnnounceApps();
    const standin::SentRequest query = session.requests().at(0);
    EXPECT_EQ(std::tie(query.uri, query.body), std::make_tuple(819922u, u32(5) + u32(6) + u32(0x55667788) + str16("")));

    standin::Packet add(820178, 200, "");
    standin::Packet current(821202, 200, std::string("\0", 1));
    mgr.onAddAnnounceApps(&add);
    EXPECT_EQ(lastEvent<AnnounceAppsEvent>().body, "");
    mgr.onSetCurrentAnnounceApp(&current);
    EXPECT_EQ(lastEvent<AnnounceAppsEvent>().body, std::string("\0", 1));
}

}  // namespace
