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
#include <vector>

#include "appmgr/ClientEvents.h"
#include "marshal/Errors.h"
#include "module/SAppContext.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinLog.h"

namespace {

using namespace protocol::session;
using Ids = std::vector<uint64_t>;
using AppIds = std::vector<uint32_t>;
using Lines = std::vector<std::wstring>;

constexpr uint64_t kUid = 0x1122334455667788ull;

// Little-endian writer for hand-made wire bytes.
struct Bytes {
    std::string s;
    Bytes& put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
        return *this;
    }
    Bytes& u8(uint8_t v) { return put(v, 1); }
    Bytes& u16(uint16_t v) { return put(v, 2); }
    Bytes& u32(uint32_t v) { return put(v, 4); }
    Bytes& u64(uint64_t v) { return put(v, 8); }
    Bytes& raw(const std::string& t) { s += t; return *this; }
    Bytes& str16(const std::string& t) { return u16(static_cast<uint16_t>(t.size())).raw(t); }
    Bytes& ids(const Ids& v) {
        u32(static_cast<uint32_t>(v.size()));
        for (uint64_t id : v) u64(id);
        return *this;
    }
};

// AppInfoPack (V2: the first proxy) or AppInfoPack3 (V3: all of them), with
// str1 "n", num 42 and one VersionItem {1, 2, 3, "v1", "v2"}.
std::string infoPack(uint32_t appId, const Ids& proxies, bool v3, const std::string& str2 = "", bool flag = false) {
    Bytes b;
    b.u32(appId);
    if (v3) b.ids(proxies); else b.u64(proxies.at(0));
    b.str16("n").str16(str2).u32(42).u32(1).u32(1).u32(2).u32(3).str16("v1").str16("v2");
    return b.u8(flag ? 7 : 0).s;
}

// PluginAppPack with everything but app id, proxies and SDK version empty.
std::string appPack(uint32_t appId, const Ids& proxies, uint16_t sdkVersion) {
    Bytes b;
    b.u32(appId).str16("").str16("").str16("").u32(0).u16(0).u16(0).u16(0).u32(0).u32(0).u8(0);
    return b.ids(proxies).u16(sdkVersion).str16("").s;
}

std::string packMap(const std::map<uint32_t, std::string>& packs) {
    Bytes b;
    b.u32(static_cast<uint32_t>(packs.size()));
    for (const auto& [appId, pack] : packs) b.u32(appId).raw(pack);
    return b.s;
}

std::string sid2Apps(const std::map<uint32_t, AppIds>& sids) {
    Bytes b;
    b.u32(static_cast<uint32_t>(sids.size()));
    for (const auto& [sid, apps] : sids) {
        b.u32(sid).u32(static_cast<uint32_t>(apps.size()));
        for (uint32_t app : apps) b.u32(app);
    }
    return b.u32(0).s;  // no sid attributes
}

std::string zip(const std::string& plain) {
    uLongf size = compressBound(plain.size());
    std::string out(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                 plain.size()) != Z_OK) {
        throw std::runtime_error("compress failed");
    }
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

PAddAppReq addReq(const AppIds& appIds, std::string packs, std::string sids = "") {
    PAddAppReq req;
    req.appIds = appIds;
    req.appPacks = std::move(packs);
    req.sidApps = std::move(sids);
    return req;
}

class AppMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::resetLog();
        session.clearEntries();
        context.userInfo()->setUid(kUid);
    }
    void forget() {
        standin::clearLogRecords();
        session.clearEntries();
    }

    SAppMgr& mgr() { return *context.appMgr(); }

    void v2(uint64_t proxyId, const std::string& data, uint16_t msgType = 1) {
        PUserMsg3 msg;
        msg.proxyId = proxyId;
        msg.msgType = msgType;
        msg.data = data;
        mgr().onAppDlMsgV2(msg);
    }
    void v2(uint64_t proxyId, uint32_t seq, uint8_t type, uint32_t appId, const std::string& body) {
        v2(proxyId, Bytes().u32(seq).u8(type).u32(appId).raw(body).s);
    }
    void v3(uint64_t srcId, uint32_t seq, uint16_t type, uint32_t appId, const std::string& data) {
        PAppMsgToClient msg;
        msg.srcId = srcId;
        msg.seqNum = seq;
        msg.appMsgType = type;
        msg.appId = appId;
        msg.data = data;
        mgr().onAppDlMsgV3(msg);
    }
    // A session-service announcement of one app with its pack.
    void announce(uint32_t appId, const Ids& proxies, uint16_t sdkVersion) {
        PAddAppReq req = addReq({appId}, packMap({{appId, appPack(appId, proxies, sdkVersion)}}));
        mgr().onAddAppReq(req);
    }

    Lines logs() const {
        Lines texts;
        for (const standin::LogRecord& r : standin::logRecords()) texts.push_back(r.text);
        return texts;
    }
    AppIds eventTypes() const {
        AppIds types;
        for (const standin::PostedEvent& e : session.events()) types.push_back(e.type);
        return types;
    }
    template <typename Event>
    Event lastEvent() const {
        const std::vector<standin::PostedEvent> events = session.events();
        if (events.empty() || events.back().type != Event().type) throw std::logic_error("event missing");
        return events.back().as<Event>();
    }

    // How an uplink message of `appId` leaves: "no proxy", "no version",
    // "nothing" (accepted but not sent), else per packet its generation and proxies.
    std::string reach(uint32_t appId) {
        const std::size_t sent = session.requests().size();
        const std::size_t logged = standin::logRecords().size();
        if (!mgr().sendAppMsg(appId, "x")) {
            return standin::logRecords().at(logged).text.find(L"No proxy") != std::wstring::npos ? "no proxy"
                                                                                                : "no version";
        }
        const std::vector<standin::SentRequest> requests = session.requests();
        std::string out = requests.size() == sent ? " nothing" : "";
        for (std::size_t i = sent; i < requests.size(); ++i) {
            if (requests[i].uri == URI_USER_MSG3) {
                out += " v2:" + std::to_string(decode<PUserMsg3>(requests[i].body).proxyId);
            } else {
                out += " v3:";
                for (uint64_t id : decode<PAppMsgToSDK>(requests[i].body).proxyIds) out += std::to_string(id) + ",";
            }
        }
        return out.substr(1);
    }

    // The counter's next value, used up by a message of an SDK V3 probe app.
    uint32_t nextSeq() {
        constexpr uint32_t kProbe = 0xFFFF0000u;
        if (!m_probeAdded) v3(~0ull, 1, 4, kProbe, infoPack(kProbe, {1}, true));
        m_probeAdded = true;
        mgr().sendAppMsg(kProbe, "");
        return decode<PAppMsgToSDK>(session.requests().back().body).seqNum;
    }

    bool m_probeAdded = false;
    standin::Session session{77};
    SAppContext context{nullptr, &session};
};

// The first uplink number of the process, taken before any test runs.
uint32_t g_firstUplinkSeq = 0;

class FirstUplink : public ::testing::Environment {
    void SetUp() override {
        standin::Session session(1);
        SAppContext context(nullptr, &session);
        PAddAppReq req = addReq({1}, packMap({{1, appPack(1, {1}, 3)}}));
        context.appMgr()->onAddAppReq(req);
        context.appMgr()->sendAppMsg(1, "");
        g_firstUplinkSeq = decode<PAppMsgToSDK>(session.requests().at(0).body).seqNum;
    }
};
[[maybe_unused]] ::testing::Environment* const g_firstUplink = ::testing::AddGlobalTestEnvironment(new FirstUplink);

// --- the sequence check ----------------------------------------------------------

TEST_F(AppMgrTest, SequenceCheckKeepsTheLastNumberPerSourceAndAcceptsWraps) {
    struct Case { uint32_t last, seq; uint16_t type; bool accepted; };
    const Case cases[] = {
        {100, 100, 3, false}, {100, 99, 3, false}, {100, 101, 3, true}, {100, 99, 4, true},
        {4294967000u, 5, 3, true}, {3000000000u, 1000000000u, 3, true}, {3000000000u, 1000000001u, 3, false},
        {4000000000u, 3000000000u, 3, true},  // 3e9 + 2e9 wraps to below 4e9
    };
    uint64_t src = 5000000000ull;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.last << " then " << c.seq << " type " << c.type);
        forget();
        v3(++src, c.last, 3, 1, "d");  // a new source is accepted whatever its number
        EXPECT_EQ(logs(), Lines{L"[sapp] AppMgr, first packet, srcId/seqNum= " + std::to_wstring(src) + L", " +
                                std::to_wstring(c.last)});
        forget();
        // An add is observed through the add event of a fresh app.
        const auto app = static_cast<uint32_t>(src);
        v3(src, c.seq, c.type, app, c.type == 4 ? infoPack(app, {1}, true) : "d");
        EXPECT_EQ(session.events().size(), c.accepted ? 1u : 0u);
        EXPECT_EQ(logs().size(), c.accepted && c.type == 4 ? 1u : 0u);  // "SDK V3: To Add app" only
    }
    // The accepted add stored 99: 100 passes now. One source serving two apps
    // shares one number; a second source of the same app has its own.
    forget();
    v3(5000000004ull, 100, 3, 1, "d");
    v2(5000000004ull, 100, 3, 2, Bytes().u32(0).u32(0).str16("").s);
    v3(7, 1, 3, 1, "d");
    EXPECT_EQ(eventTypes(), (AppIds{EVENT_APP_DATA, EVENT_APP_DATA}));
}

// --- downlink dispatch -------------------------------------------------------------

TEST_F(AppMgrTest, DataMessagesReachTheClientAndOtherMessagesAreLoggedAndDropped) {
    v2(1, 1, 3, 31, Bytes().u32(8).u32(9).str16("abc").raw("tail").s);
    EXPECT_EQ(lastEvent<AppDataEvent>().appId, 31u);
    EXPECT_EQ(lastEvent<AppDataEvent>().data, "abc");
    v3(2, 1, 3, 32, Bytes().u32(8).str16("abc").s);
    EXPECT_EQ(lastEvent<AppDataEvent>().appId, 32u);
    EXPECT_EQ(lastEvent<AppDataEvent>().data, Bytes().u32(8).str16("abc").s);  // unparsed

    forget();
    v2(1, Bytes().u32(2).u8(3).u32(31).u32(0).u32(0).str16("ok").s, 2);  // not an app-platform carrier
    v2(1, "");
    v3(2, 2, 3, 32, "");
    v2(1, 3, 5, 31, "");
    v3(2, 3, 6, 32, "x");
    v2(1, 3, 3, 31, Bytes().u32(0).u32(0).str16("late").s);  // 3 was taken by the unsupported ones
    v3(2, 3, 3, 32, "late");
    EXPECT_TRUE(session.events().empty());
    EXPECT_EQ(logs(), (Lines{L"[sapp] AppMgr, Receive a non-AppPlatform message.",
                             L"[sapp] AppMgr, Bad PAppSrvData msg:data->size() < 1",
                             L"[sapp] AppMgr, SDK V3: Bad PAppSrvData msg:data->size() < 1",
                             L"[sess] AppMgr, not supported appMsgType:",
                             L"[sapp] AppMgr, SDK V3: Not supported appMsgType."}));
}

// --- which service owns an app ----------------------------------------------------

TEST_F(AppMgrTest, TheFirstServiceToAnnounceAnAppOwnsIt) {
    v2(5, 1, 4, 20, infoPack(20, {5}, false));  // the app platform takes 20
    announce(21, {6}, 3);                        // the session service takes 21
    forget();

    PAddAppReq add = addReq({20, 21, 7, 7}, "");
    add.sid = 77;
    mgr().onAddAppReq(add);
    EXPECT_EQ(lastEvent<AppsAddedEvent>().appIds, (AppIds{21, 7, 7}));
    EXPECT_EQ(logs(), (Lines{L"[sapp] AppMgr, sid/app_id= 77, 21", L"[sapp] AppMgr, sid/app_id= 77, 7",
                             L"[sapp] AppMgr, sid/app_id= 77, 7"}));
    forget();
    v3(6, 1, 4, 21, infoPack(21, {9}, true));  // platform add, update and delete of a session app
    v3(6, 2, 5, 21, Bytes().ids({9}).s);
    v3(6, 3, 2, 21, infoPack(21, {9}, true));
    EXPECT_TRUE(session.events().empty());
    EXPECT_EQ(logs().size(), 1u);  // the source's first packet

    const std::string sids = sid2Apps({{60, {21}}});
    PDelAppReq del;
    del.sid = 77;
    del.sidApps = zip(sids);
    del.sidAppsZipped = 1;
    del.sidAppsLen = static_cast<uint32_t>(sids.size());
    del.appIds = {20, 21, 21, 99};
    del.context = "bye";
    forget();
    mgr().onDelAppReq(del);
    const AppsDeletedEvent deleted = lastEvent<AppsDeletedEvent>();
    EXPECT_EQ(deleted.sid, 77u);
    EXPECT_EQ(deleted.appIds, AppIds{21});
    EXPECT_EQ(deleted.sidApps.sidApps.at(60).appIds, AppIds{21});
    EXPECT_EQ(deleted.context, "bye");
    EXPECT_EQ(logs(), Lines{L"[sess] AppMgr, del app id:  21"});
    EXPECT_EQ(reach(20), "v2:5");
    EXPECT_EQ(reach(21), "no proxy");

    // A platform delete keeps the platform's claim; a session delete frees the id.
    forget();
    v2(5, 2, 2, 20, infoPack(20, {5}, false));
    announce(20, {1}, 3);
    EXPECT_EQ(reach(20), "no proxy");
    v2(5, 3, 4, 20, infoPack(20, {5}, false));
    v3(6, 4, 4, 21, infoPack(21, {9}, true));
    EXPECT_EQ(eventTypes(), (AppIds{EVENT_APP_REMOVED, EVENT_APPS_ADDED, EVENT_APP_ADDED, EVENT_APP_ADDED}));
    EXPECT_EQ(reach(21), "v3:9,");
}

// --- add, update and delete notices -----------------------------------------------

TEST_F(AppMgrTest, SessionAddUnzipsItsListsAndAppliesListedPacksInTwoPasses) {
    v2(500, 900, 4, 8, infoPack(8, {3}, false));  // the app platform's 8, with its last source
    v3(501, 900, 3, 7, "d");                       // 7's last source
    const std::string packs = packMap({{7, appPack(7, {9, 5}, 3)}, {8, appPack(8, {4}, 2)}, {11, appPack(11, {3}, 3)}});
    const std::string sids = sid2Apps({{60, {8, 12}}});
    for (const bool zipped : {false, true}) {
        SCOPED_TRACE(zipped ? "zipped" : "plain");
        PAddAppReq req = addReq({7}, zipped ? zip(packs) : packs, zip(sids));
        req.sid = 77;
        req.context = "ctx";
        req.appPacksZipped = zipped ? 1 : 0;
        req.appPacksLen = static_cast<uint32_t>(packs.size());
        req.sidAppsZipped = 0x80;
        req.sidAppsLen = static_cast<uint32_t>(sids.size());
        mgr().onAddAppReq(req);
        const AppsAddedEvent event = lastEvent<AppsAddedEvent>();
        EXPECT_EQ(event.sid, 77u);
        EXPECT_EQ(event.appIds, AppIds{7});
        EXPECT_EQ(event.context, "ctx");
        ASSERT_EQ(event.appPacks.apps.size(), 3u);  // whole, not-accepted packs included
        EXPECT_EQ(event.appPacks.apps.at(7).proxyIds, (Ids{9, 5}));
        EXPECT_EQ(event.sidApps.sidApps.at(60).appIds, (AppIds{8, 12}));
        EXPECT_EQ(req.sidApps, sids);  // the record now holds the unzipped bytes
    }
    EXPECT_EQ(reach(7), "v3:5,9,");
    EXPECT_EQ(reach(8), "v2:4");       // second pass: listed under sid 60 only, owner not asked
    EXPECT_EQ(reach(11), "no proxy");  // listed nowhere
    // Applying a pack reset the app's last source: a low number passes again.
    forget();
    v2(500, 1, 3, 8, Bytes().u32(0).u32(0).str16("").s);
    v3(501, 1, 3, 7, "d");
    EXPECT_EQ(session.events().size(), 2u);
}

TEST_F(AppMgrTest, PlatformAddsReportTheAppAndFillItsProxies) {
    v2(5, 1, 4, 30, infoPack(30, {9}, false, "\xc3\xa9t\xc3\xa9", true));
    const ClientAppInfo info = lastEvent<AppAddedEvent>().info;
    EXPECT_EQ(info.appId, 30u);
    EXPECT_EQ(info.str1, L"n");
    EXPECT_EQ(info.str2, L"\u00e9t\u00e9");
    EXPECT_EQ(info.num, 42u);
    EXPECT_TRUE(info.flag);
    ASSERT_EQ(info.versions.size(), 1u);
    const ClientVersionItem& item = info.versions[0];
    EXPECT_EQ((std::vector<uint32_t>{item.num1, item.num2, item.num3}), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(item.str1, "v1");
    EXPECT_EQ(item.str2, L"v2");

    v2(6, 1, 4, 30, infoPack(30, {3}, false));  // V2 adds accumulate
    EXPECT_EQ(reach(30), "v2:3 v2:9");
    forget();
    // A V3 add replaces the set, under the body's app id; claim and version go
    // to the carrier's.
    v3(6, 2, 4, 40, infoPack(41, {8, 2}, true));
    EXPECT_EQ(logs(), Lines{L"[sapp] SDK V3: To Add app  40"});
    EXPECT_EQ(lastEvent<AppAddedEvent>().info.appId, 41u);
    EXPECT_EQ(reach(41), "no version");
    v3(6, 3, 5, 40, Bytes().ids({}).s);  // an empty proxy update keeps the app reachable
    EXPECT_EQ(reach(40), "v3:");
    v3(6, 4, 4, 40, infoPack(40, {6}, true));
    EXPECT_EQ(reach(40), "v3:6,");
}

TEST_F(AppMgrTest, PlatformDeletesEraseProxiesAndOnlyTheirOwnGenerationsVersion) {
    v2(5, 1, 4, 30, infoPack(30, {9}, false));
    v2(5, 2, 2, 30, infoPack(30, {9}, false, "gone", true));
    const AppRemovedEvent removed = lastEvent<AppRemovedEvent>();
    EXPECT_EQ(removed.appId, 30u);
    EXPECT_TRUE(removed.flag);
    EXPECT_EQ(removed.str2, L"gone");
    // A second delete finds no version and leaves a 0: with proxies again, the
    // app is known but silent.
    v2(5, 3, 2, 30, infoPack(30, {9}, false));
    v3(5, 4, 5, 30, Bytes().ids({4}).s);
    EXPECT_EQ(reach(30), "nothing");

    // A session pack (second pass) made 31 an SDK V3 app: the V2 delete keeps that version.
    v2(5, 5, 4, 31, infoPack(31, {9}, false));
    PAddAppReq add = addReq({}, packMap({{31, appPack(31, {1}, 3)}}), sid2Apps({{60, {31}}}));
    mgr().onAddAppReq(add);
    v2(5, 6, 2, 31, infoPack(31, {9}, false));
    EXPECT_EQ(lastEvent<AppRemovedEvent>().appId, 31u);
    v3(5, 7, 5, 31, Bytes().ids({2}).s);
    EXPECT_EQ(reach(31), "v3:2,");

    forget();
    v3(5, 8, 2, 0, infoPack(31, {}, true));  // V3: the body names the app
    EXPECT_EQ(lastEvent<AppRemovedEvent>().appId, 31u);
    EXPECT_EQ(logs(), Lines{L"[sapp] SDK V3: to delete app  31"});
    EXPECT_EQ(reach(31), "no proxy");
}

// --- unpack errors ----------------------------------------------------------------

TEST_F(AppMgrTest, DownlinkUnpackErrorsAreLoggedAndEarlierChangesStay) {
    const std::wstring v2Error = L"[sapp] AppMgr, SDK V2: appDlMsg->data Unpack Error";
    const std::wstring v3Error = L"[sapp] AppMgr, SDK V3: appDlMsg->data Unpack Error";
    v2(5, 500, 3, 1, Bytes().u32(0).u32(0).str16("").s);  // source 5 at 500
    forget();

    // Cut inside the header: app 2 is not tied to source 5, so announcing 2
    // leaves the source at 500.
    v2(5, Bytes().u32(1).u8(3).s);
    v2(5, Bytes().u32(1).u8(3).u16(2).s);
    announce(2, {1}, 2);
    v2(5, 1, 3, 1, Bytes().u32(0).u32(0).str16("").s);
    // Cut in the body: the number was taken, the same message is now a duplicate.
    v2(7, 9, 3, 3, Bytes().u32(0).u32(0).u16(5).s);
    v2(7, 9, 3, 3, Bytes().u32(0).u32(0).u16(5).s);
    EXPECT_EQ(logs(), (Lines{v2Error, v2Error, L"[sapp] AppMgr, sid/app_id= 0, 2",
                             L"[sapp] AppMgr, first packet, srcId/seqNum= 7, 9", v2Error}));
    EXPECT_EQ(eventTypes(), AppIds{EVENT_APPS_ADDED});

    // Adds cut in the body keep the claim and the version; V3 keeps the old proxies.
    forget();
    v2(8, 1, 4, 50, Bytes().u32(50).u64(4).s);
    v3(8, 2, 5, 50, Bytes().ids({3}).s);
    EXPECT_EQ(reach(50), "v2:3");
    v3(8, 3, 4, 50, Bytes().u32(50).s);
    EXPECT_EQ(reach(50), "v3:3,");
    // A cut proxy update has emptied the set already; cut deletes change nothing.
    v3(8, 4, 5, 50, Bytes().u32(1).s);
    EXPECT_EQ(reach(50), "v3:");
    v3(8, 5, 2, 50, Bytes().u32(50).s);
    v2(8, 6, 2, 50, Bytes().u32(50).s);
    EXPECT_EQ(reach(50), "v3:");
    announce(50, {1}, 2);
    EXPECT_EQ(eventTypes(), AppIds{EVENT_APPS_ADDED});
    EXPECT_EQ(lastEvent<AppsAddedEvent>().appIds, AppIds{});  // still the platform's
    const Lines all = logs();
    EXPECT_EQ(Lines(all.end() - 4, all.end()), (Lines{v3Error, v3Error, L"[sapp] AppMgr, delete app  50", v2Error}));
}

TEST_F(AppMgrTest, SessionNoticesAndUplinkLetEncodingErrorsThrough) {
    PAddAppReq add = addReq({7}, packMap({{7, appPack(7, {1}, 3)}}).substr(0, 20));
    EXPECT_THROW(mgr().onAddAppReq(add), pakt::UnpackError);
    PDelAppReq del;
    EXPECT_THROW(mgr().onDelAppReq(del), pakt::UnpackError);  // an empty list must still read
    EXPECT_TRUE(session.events().empty());
    announce(7, {1}, 2);
    EXPECT_EQ(lastEvent<AppsAddedEvent>().appIds, AppIds{7});  // nothing was claimed before

    // A V2 message too long for its 16-bit length uses up a number, sends nothing.
    const uint32_t before = nextSeq();
    session.clearEntries();
    EXPECT_THROW(mgr().sendAppMsg(7, std::string(65536, 'a')), pakt::PackError);
    EXPECT_TRUE(session.requests().empty());
    EXPECT_EQ(nextSeq(), before + 2);
}

// --- uplink and announce apps ----------------------------------------------------

TEST_F(AppMgrTest, UplinkGoesToEveryProxyInTheAppsGenerationNumberedFromOneCounter) {
    EXPECT_EQ(g_firstUplinkSeq, 1u);
    context.userInfo()->setSid(0x01020304);
    announce(9, {9, 5}, 2);
    v3(6, 1, 4, 31, infoPack(32, {2}, true));  // proxies for 32, a version for 31
    const uint32_t seq = nextSeq() + 1;
    forget();
    // Unreachable apps log, send nothing and leave the counter alone.
    EXPECT_FALSE(mgr().sendAppMsg(3, "x"));
    EXPECT_FALSE(mgr().sendAppMsg(32, "x"));
    EXPECT_EQ(logs(), (Lines{L"[sapp] AppMgr, No proxy found for app:  3",
                             L"[sapp] AppMgr, Unknown SDK version of app type id:  32"}));
    EXPECT_TRUE(mgr().sendAppMsg(9, "hi"));
    const std::string payload = Bytes().u32(seq).u8(3).u32(9).u64(kUid).u32(0x01020304).str16("hi").s;
    const std::vector<standin::SentRequest> sent = session.requests();
    ASSERT_EQ(sent.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(sent[i].type, 100);
        EXPECT_EQ(sent[i].uri, 2585602u);
        EXPECT_EQ(sent[i].body,
                  Bytes().u32(0).u32(0).u64(i == 0 ? 5 : 9).u32(0).u16(1).u32(0).u32(0).u32(25).raw(payload).s);
    }

    // The next message, of another session and generation, takes the next number.
    standin::Session other(88);
    SAppContext otherContext(nullptr, &other);
    otherContext.userInfo()->setUid(kUid);
    PAddAppReq add = addReq({4}, packMap({{4, appPack(4, {30, 10}, 3)}}));
    otherContext.appMgr()->onAddAppReq(add);
    EXPECT_TRUE(otherContext.appMgr()->sendAppMsg(4, "yo"));
    EXPECT_EQ(other.requests().at(0).uri, 2611458u);
    EXPECT_EQ(other.requests().at(0).body, Bytes().u32(88).u32(ProtoHelper::getUid32(kUid)).u32(4).u32(seq + 1)
                                               .u64(0).ids({10, 30}).u32(0).str16("").u32(2).raw("yo").s);
}

TEST_F(AppMgrTest, AnnounceAppsAreQueriedWithThePidAndRelayedRaw) {
    context.userInfo()->setSid(5);
    context.userInfo()->setPid(6);
    mgr().queryAnnounceApps();
    ASSERT_EQ(session.requests().size(), 1u);
    EXPECT_EQ(session.requests()[0].uri, 819922u);
    EXPECT_EQ(session.requests()[0].body, Bytes().u32(5).u32(6).u32(ProtoHelper::getUid32(kUid)).u16(0).s);

    standin::Packet add(820178, 200, "");
    standin::Packet current(821202, 200, std::string("\0", 1));
    mgr().onAddAnnounceApps(&add);
    EXPECT_EQ(lastEvent<AnnounceAppsEvent>().body, "");
    mgr().onSetCurrentAnnounceApp(&current);
    EXPECT_EQ(lastEvent<AnnounceAppsEvent>().body, std::string("\0", 1));
    EXPECT_EQ(logs(), (Lines{L"[sapp] SAppMgr::queryAnnounceApps",
                             L"[sess] SessionAppMgr::onAddAnnounceApps, receive onAddAnnounceApps",
                             L"[sess] SessionAppMgr::onSetCurrentAnnounceApp, receive PSetCurrentAnnounceApp"}));
}

}  // namespace
