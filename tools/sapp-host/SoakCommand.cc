// soak: many sessions, many packets and requests, every effect checked
// against a model of the sessions' apps, and the memory watched.
//
// The model keeps, per session, what the module's app registry documents:
// which service owns each app (the first to announce it), each app's
// proxies and SDK version, the last sequence number of each message source
// and each app's last source. Every step names the effects it expects (the
// events posted, the app messages sent) and the step's actual effects must
// be exactly those, on the session the step was for and on no other. Client
// requests are the probes: what the module sends for an app shows its
// proxies and SDK version as the module holds them.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/ClientEvents.h"
#include "host/ClientRecords.h"
#include "host/SessionEvent.h"
#include "marshal/Errors.h"
#include "module/ISessionMod.h"
#include "protocol/AppPayloads.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinLog.h"
#include "tools/sapp-host/Commands.h"
#include "tools/sapp-host/FieldJson.h"
#include "tools/sapp-host/ModuleLibrary.h"
#include "tools/sapp-host/Process.h"
#include "tools/sapp-host/Zlib.h"

namespace sapphost {

namespace {

namespace ps = protocol::session;
namespace pl = vessaplugin::appMgr;

constexpr uint32_t kPlatform = 1;  // the app platform (SDK V2 and V3 messages)
constexpr uint32_t kSession = 2;   // the session service (PAddAppReq, PDelAppReq)

// Small pools, so that sessions share app ids and proxies, both services
// meet on the same apps, and the live state stops growing early.
constexpr uint32_t kFirstApp = 1001;
constexpr uint32_t kApps = 40;
constexpr uint32_t kProxies = 12;
constexpr uint32_t kSources = 6;
constexpr uint32_t kFirstSid = 5000;
constexpr uint32_t kExcludedApp = 90052;  // the module never relays client messages of this app

class SoakFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the module's registry holds for one session.
struct SessionModel {
    std::map<uint32_t, std::set<uint64_t>> proxies;
    std::map<uint64_t, uint32_t> lastSeq;  // per message source
    std::map<uint32_t, uint64_t> appSource;
    std::map<uint32_t, uint32_t> sdk;
    std::map<uint32_t, uint32_t> owner;

    std::size_t size() const {
        std::size_t n = lastSeq.size() + appSource.size() + sdk.size() + owner.size();
        for (const auto& [app, set] : proxies) n += 1 + set.size();
        return n;
    }

    // The sequence check of the app-platform messages.
    bool accept(uint32_t seq, uint64_t source, uint16_t type) {
        const auto found = lastSeq.find(source);
        if (found == lastSeq.end()) {
            lastSeq[source] = seq;
            return true;
        }
        const bool wrapped = static_cast<uint32_t>(seq + 2000000000u) <= found->second;
        if (seq > found->second || wrapped || type == ps::kAppMsgAddApp) {
            found->second = seq;
            return true;
        }
        return false;
    }
    // The platform claims an app unless the session service owns it.
    bool claimForPlatform(uint32_t app) { return owner.try_emplace(app, kPlatform).first->second == kPlatform; }
    bool ownedBy(uint32_t app, uint32_t service) const {
        const auto found = owner.find(app);
        return found != owner.end() && found->second == service;
    }
    void removeByPlatform(uint32_t app, uint32_t version) {
        proxies.erase(app);
        if (sdk[app] == version) sdk.erase(app);
    }
    void applyPack(const pl::PluginAppPack& pack) {
        proxies[pack.appId] = std::set<uint64_t>(pack.proxyIds.begin(), pack.proxyIds.end());
        sdk[pack.appId] = pack.sdkVersion;
        if (const auto source = appSource.find(pack.appId); source != appSource.end()) lastSeq[source->second] = 0;
    }
};

struct LiveSession {
    std::unique_ptr<standin::Session> object;
    SessionModel model;
    // The last packet played at it, for duplicates.
    uint32_t lastUri = 0;
    std::string lastBody;
};

std::string idList(const std::vector<uint32_t>& ids) {
    std::string out = "[";
    for (std::size_t i = 0; i < ids.size(); ++i) out += (i ? "," : "") + std::to_string(ids[i]);
    return out + "]";
}

template <typename C> std::string numberList(const C& values) {
    std::string out = "[";
    for (const auto v : values) out += (out.size() > 1 ? "," : "") + std::to_string(v);
    return out + "]";
}

// The observable effects as comparable lines.
std::string addedLine(uint32_t app) { return "event APP_ADDED app " + std::to_string(app); }
std::string removedLine(uint32_t app) { return "event APP_REMOVED app " + std::to_string(app); }
std::string dataLine(uint32_t app, const std::string& data) {
    return "event APP_DATA app " + std::to_string(app) + " data " + toHex(data);
}
std::string appsAddedLine(const std::vector<uint32_t>& ids) { return "event APPS_ADDED apps " + idList(ids); }
std::string appsDeletedLine(const std::vector<uint32_t>& ids) { return "event APPS_DELETED apps " + idList(ids); }
std::string v2SendLine(uint32_t app, uint64_t proxy) {
    return "send PUserMsg3 app " + std::to_string(app) + " proxy " + std::to_string(proxy);
}
std::string v3SendLine(uint32_t app, const std::vector<uint64_t>& proxies) {
    return "send PAppMsgToSDK app " + std::to_string(app) + " proxies " + numberList(proxies);
}

std::string eventLine(const standin::PostedEvent& posted) {
    switch (posted.type) {
    case EVENT_APP_ADDED: return addedLine(posted.as<AppAddedEvent>().info.appId);
    case EVENT_APPS_ADDED: return appsAddedLine(posted.as<AppsAddedEvent>().appIds);
    case EVENT_APP_REMOVED: return removedLine(posted.as<AppRemovedEvent>().appId);
    case EVENT_APPS_DELETED: return appsDeletedLine(posted.as<AppsDeletedEvent>().appIds);
    case EVENT_APP_DATA: {
        const auto& data = posted.as<AppDataEvent>();
        return dataLine(data.appId, data.data);
    }
    default: return "event " + std::to_string(posted.type);
    }
}

// A sent message as a line; empty for the app queries, which the soak does
// not model.
std::string sendLine(const standin::SentRequest& sent) {
    if (sent.uri == ps::URI_GET_APPS_REQ || sent.uri == ps::URI_GET_ANNOUNCE_APPS) return {};
    try {
        if (sent.uri == ps::URI_USER_MSG3) {
            ps::PUserMsg3 msg;
            pakt::Unpack up(sent.body.data(), sent.body.size());
            msg.unmarshal(up);
            ps::AppUplinkV2 payload;
            pakt::Unpack data(msg.data.data(), msg.data.size());
            pakt::unpackFields(payload, data);
            return v2SendLine(payload.header.appId, msg.proxyId);
        }
        if (sent.uri == ps::URI_APP_MSG_TO_SDK) {
            ps::PAppMsgToSDK msg;
            pakt::Unpack up(sent.body.data(), sent.body.size());
            msg.unmarshal(up);
            return v3SendLine(msg.appId, msg.proxyIds);
        }
    } catch (const pakt::UnpackError& e) {
        return "send URI " + std::to_string(sent.uri) + " that does not decode: " + e.what();
    }
    return "send URI " + std::to_string(sent.uri);
}

class Soak {
public:
    Soak(const ModuleLibrary& module, uint32_t sessions, uint64_t steps, uint64_t seed)
        : m_module(module), m_sessionCount(sessions), m_steps(steps), m_seed(seed), m_rng(seed) {}

    int run() {
        standin::resetLog();
        standin::setUnzipLimit(standin::kDefaultUnzipLimit);
        const auto started = std::chrono::steady_clock::now();
        for (uint32_t i = 0; i < m_sessionCount; ++i) join();
        std::cout << "soak: " << m_sessionCount << " sessions, " << m_steps << " packets and requests, seed "
                  << m_seed << std::endl;
        for (uint64_t step = 1; step <= m_steps; ++step) {
            m_step = step;
            playOne();
            if (const uint64_t tenth = step * 10 / m_steps; tenth != m_lastTenth) {
                m_lastTenth = tenth;
                checkpoint(step, started);
            }
        }
        while (!m_live.empty()) leave(m_live.begin()->first);
        return verdict();
    }

private:
    struct Checkpoint {
        uint64_t step;
        std::size_t liveState;
        uint64_t heap;
    };

    uint32_t below(uint32_t n) { return static_cast<uint32_t>(m_rng() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }
    uint32_t anyApp() { return chance(5) ? 70000 + below(1000) : kFirstApp + below(kApps); }
    uint64_t anyProxy() { return 900 + below(kProxies); }
    uint64_t anySource() { return 100 + below(kSources); }
    std::string anyData() {
        std::string data(below(12), '\0');
        for (char& c : data) c = static_cast<char>(below(256));
        return data;
    }

    // --- sessions -------------------------------------------------------------

    void join() {
        const uint32_t sid = m_nextSid++;
        LiveSession live;
        live.object = std::make_unique<standin::Session>(sid);
        ISessionMod* mod = m_module.getModule(live.object.get());
        if (!mod) throw SoakFailure("getModule returned null for session " + std::to_string(sid));
        m_pMod = mod;
        live.object->clearEntries();
        m_live.emplace(sid, std::move(live));
        ++m_joined;
    }

    void leave(uint32_t sid) {
        m_pMod->onLeave(sid);
        m_module.releaseModule(sid);
        m_live.erase(sid);
        ++m_left;
    }

    LiveSession& anySession(uint32_t& sid) {
        auto it = m_live.begin();
        std::advance(it, below(static_cast<uint32_t>(m_live.size())));
        sid = it->first;
        return it->second;
    }

    // --- one step -------------------------------------------------------------

    void playOne() {
        const uint32_t roll = below(1000);
        if (roll < 6) {
            // A session leaves and a new one joins (joining first, so the
            // module always has a session).
            uint32_t sid = 0;
            anySession(sid);
            join();
            leave(sid);
            return;
        }
        if (roll < 8) {
            // The app query starts in one session, and the clock runs.
            uint32_t sid = 0;
            LiveSession& live = anySession(sid);
            ps::SessionEvent event;
            event.type = ps::EVENT_SESS_QUERY_APPS;
            live.object->deliverEvent(event);
            standin::advanceClock(5000);
            for (auto& [other, session] : m_live) session.object->clearEntries();
            standin::clearLogRecords();
            return;
        }
        uint32_t sid = 0;
        LiveSession& live = anySession(sid);
        std::vector<std::string> expected;
        std::string what;
        bool throws = false;
        if (roll < 160) {
            what = request(live, expected);
        } else {
            uint32_t uri = 0;
            std::string body;
            uint32_t res = 200;
            if (roll < 180 && !live.lastBody.empty()) {
                what = "a duplicate";
                uri = live.lastUri;
                body = live.lastBody;
            } else {
                what = packet(live, roll, uri, body, throws);
            }
            if (chance(1)) res = 500;
            if (!throws && res == 200) expectPacket(live, uri, body, expected, throws);
            live.lastUri = uri;
            live.lastBody = body;
            play(sid, uri, res, body, what, throws && res == 200);
            if (res != 200) expected.clear();
        }
        compare(sid, what, expected);
    }

    void play(uint32_t sid, uint32_t uri, uint32_t res, const std::string& body, const std::string& what,
              bool throws) {
        standin::Packet packet(uri, res, body);
        bool threw = false;
        try {
            m_pMod->onPacket(sid, &packet);
        } catch (const pakt::UnpackError&) {
            threw = true;
        }
        if (threw != throws) {
            fail(sid, what, std::string(throws ? "expected" : "did not expect") + " the packet to be refused (UnpackError)");
        }
    }

    // A client request, the probe of an app's proxies and SDK version.
    std::string request(LiveSession& live, std::vector<std::string>& expected) {
        AppDataRequest request;
        request.type = REQ_APP_DATA;
        request.appId = chance(2) ? kExcludedApp : anyApp();
        request.data = anyData();
        expectRequest(live.model, request.appId, expected);
        m_pMod->onRequest(live.object->getSid(), &request);
        ++m_probes;
        return "a request for app " + std::to_string(request.appId);
    }

    void expectRequest(const SessionModel& model, uint32_t app, std::vector<std::string>& expected) {
        if (app == kExcludedApp) return;
        const auto proxies = model.proxies.find(app);
        const auto version = model.sdk.find(app);
        if (proxies == model.proxies.end() || version == model.sdk.end()) return;
        if (version->second == 2) {
            for (const uint64_t proxy : proxies->second) expected.push_back(v2SendLine(app, proxy));
        } else if (version->second == 3) {
            expected.push_back(v3SendLine(app, {proxies->second.begin(), proxies->second.end()}));
        }
    }

    // A packet of one of the handled kinds; `throws` when its record itself
    // does not decode.
    std::string packet(LiveSession& live, uint32_t roll, uint32_t& uri, std::string& body, bool& throws) {
        if (roll < 290) return addApps(live, uri, body);
        if (roll < 340) return deleteApps(live, uri, body);
        if (roll < 640) return platformV2(live, uri, body);
        if (roll < 970) return platformV3(live, uri, body);
        // A record cut short.
        std::string full;
        const std::string what = chance(50) ? addApps(live, uri, full) : platformV3(live, uri, full);
        body = full.substr(0, below(static_cast<uint32_t>(full.size())));
        throws = true;
        return what + " cut to " + std::to_string(body.size()) + " bytes";
    }

    pl::PluginAppPack anyPack(uint32_t app) {
        pl::PluginAppPack pack;
        pack.appId = app;
        pack.sdkVersion = static_cast<uint16_t>(chance(90) ? 2 + below(2) : 7);
        for (uint32_t n = below(3); n > 0; --n) pack.proxyIds.push_back(anyProxy());
        pack.str1 = "app";
        return pack;
    }

    // A zipped payload field, sometimes one the host will not unzip.
    void payload(const std::string& plain, std::string& field, uint8_t& zipped, uint32_t& length) {
        if (chance(50)) {
            field = plain;
            return;
        }
        zipped = 1;
        field = deflateBytes(plain);
        length = static_cast<uint32_t>(plain.size());
        if (chance(5)) length = standin::kDefaultUnzipLimit + 1;  // refused: the field is empty
    }

    std::string addApps(LiveSession& live, uint32_t& uri, std::string& body) {
        ps::PAddAppReq req;
        req.sid = live.object->getSid();
        pl::PluginAppPackMap packs;
        pl::PluginSid2AppsMap sidApps;
        for (uint32_t n = 1 + below(4); n > 0; --n) {
            const uint32_t app = anyApp();
            req.appIds.push_back(app);
            if (chance(70)) packs.apps[app] = anyPack(app);
        }
        if (chance(30)) {
            const uint32_t app = anyApp();
            packs.apps[app] = anyPack(app);
            sidApps.sidApps[req.sid].appIds.push_back(app);
        }
        payload(packToString(packs), req.appPacks, req.appPacksZipped, req.appPacksLen);
        payload(packToString(sidApps), req.sidApps, req.sidAppsZipped, req.sidAppsLen);
        req.context = "soak";
        uri = ps::URI_ADD_APP_REQ;
        body = packToString(req);
        return "PAddAppReq " + idList(req.appIds);
    }

    std::string deleteApps(LiveSession& live, uint32_t& uri, std::string& body) {
        ps::PDelAppReq req;
        req.sid = live.object->getSid();
        for (uint32_t n = 1 + below(3); n > 0; --n) req.appIds.push_back(anyApp());
        pl::PluginSid2AppsMap sidApps;
        sidApps.sidApps[req.sid].appIds = req.appIds;
        payload(packToString(sidApps), req.sidApps, req.sidAppsZipped, req.sidAppsLen);
        uri = ps::URI_DEL_APP_REQ;
        body = packToString(req);
        return "PDelAppReq " + idList(req.appIds);
    }

    // A sequence number for `source`: mostly the next ones, sometimes stale.
    uint32_t sequence(const SessionModel& model, uint64_t source) {
        const auto last = model.lastSeq.find(source);
        if (last == model.lastSeq.end()) return 1 + below(1000);
        if (chance(15)) return last->second - std::min(last->second, below(3));
        return last->second + 1 + below(3);
    }

    std::string platformV2(LiveSession& live, uint32_t& uri, std::string& body) {
        ps::PUserMsg3 msg;
        msg.msgType = chance(98) ? 1 : 7;
        msg.proxyId = anySource();
        const uint32_t app = anyApp();
        const uint32_t seq = sequence(live.model, msg.proxyId);
        const uint32_t kind = below(100);
        pakt::BlockBuffer buffer;
        pakt::Pack p(buffer);
        ps::AppHeaderV2 header{seq, 0, app};
        std::string what;
        if (kind < 50) {
            header.appMsgType = ps::kAppMsgAppData;
            ps::AppDataV2 data{0, 0, anyData()};
            pakt::packFields(header, p);
            pakt::packFields(data, p);
            what = "V2 data";
        } else {
            header.appMsgType = kind < 80 ? ps::kAppMsgAddApp : ps::kAppMsgDeleteApp;
            ps::AppInfoPack info;
            info.appId = app;
            info.proxyId = anyProxy();
            pakt::packFields(header, p);
            pakt::packFields(info, p);
            what = header.appMsgType == ps::kAppMsgAddApp ? "V2 add" : "V2 delete";
        }
        msg.data = p.str();
        if (chance(3)) msg.data.resize(below(static_cast<uint32_t>(msg.data.size())));  // a payload cut short
        uri = ps::URI_USER_MSG3;
        body = packToString(msg);
        return what + " of app " + std::to_string(app) + " seq " + std::to_string(seq);
    }

    std::string platformV3(LiveSession& live, uint32_t& uri, std::string& body) {
        ps::PAppMsgToClient msg;
        msg.appId = anyApp();
        msg.srcId = anySource();
        msg.seqNum = sequence(live.model, msg.srcId);
        const uint32_t kind = below(100);
        std::string what;
        if (kind < 45) {
            msg.appMsgType = ps::kAppMsgAppData;
            msg.data = anyData();
            what = "V3 data";
        } else if (kind < 85) {
            msg.appMsgType = kind < 70 ? ps::kAppMsgAddApp : ps::kAppMsgDeleteApp;
            ps::AppInfoPack3 info;
            info.appId = msg.appId;
            for (uint32_t n = below(3); n > 0; --n) info.proxyIds.push_back(anyProxy());
            msg.data = packToString(info);
            what = msg.appMsgType == ps::kAppMsgAddApp ? "V3 add" : "V3 delete";
        } else {
            msg.appMsgType = ps::kAppMsgUpdateProxies;
            ps::PAppSdkInfo info;
            for (uint32_t n = below(3); n > 0; --n) info.proxyIds.push_back(anyProxy());
            msg.data = packToString(info);
            what = "V3 proxy update";
        }
        if (msg.appMsgType != ps::kAppMsgAppData && chance(3)) {
            msg.data.resize(below(static_cast<uint32_t>(msg.data.size())));  // a body cut short
        }
        uri = ps::URI_APP_MSG_TO_CLIENT;
        body = packToString(msg);
        return what + " of app " + std::to_string(msg.appId) + " seq " + std::to_string(msg.seqNum);
    }

    // --- the model's expectations -----------------------------------------------

    // What `body` under `uri` does to the model, and the events it posts.
    // Sets `throws` when the record does not decode (nothing changes then).
    void expectPacket(LiveSession& live, uint32_t uri, const std::string& body, std::vector<std::string>& expected,
                      bool& throws) {
        try {
            pakt::Unpack up(body.data(), body.size());
            if (uri == ps::URI_ADD_APP_REQ) {
                ps::PAddAppReq req;
                req.unmarshal(up);
                expectAddApps(live.model, req, expected);
            } else if (uri == ps::URI_DEL_APP_REQ) {
                ps::PDelAppReq req;
                req.unmarshal(up);
                expectDeleteApps(live.model, req, expected);
            } else if (uri == ps::URI_USER_MSG3) {
                ps::PUserMsg3 msg;
                msg.unmarshal(up);
                expectV2(live.model, msg, expected);
            } else if (uri == ps::URI_APP_MSG_TO_CLIENT) {
                ps::PAppMsgToClient msg;
                msg.unmarshal(up);
                expectV3(live.model, msg, expected);
            }
        } catch (const pakt::UnpackError&) {
            throws = true;
        }
    }

    static std::string unzipped(const std::string& field, uint8_t zipped, uint32_t length) {
        if (!zipped) return field;
        if (length > standin::kDefaultUnzipLimit) return {};
        return inflateExactly(field, length).value_or(std::string());
    }

    void expectAddApps(SessionModel& model, const ps::PAddAppReq& req, std::vector<std::string>& expected) {
        // An empty payload field is not decoded.
        const auto packs = payloadOf<pl::PluginAppPackMap>(unzipped(req.appPacks, req.appPacksZipped, req.appPacksLen));
        const auto sidApps = payloadOf<pl::PluginSid2AppsMap>(unzipped(req.sidApps, req.sidAppsZipped, req.sidAppsLen));
        std::vector<uint32_t> accepted;
        for (const uint32_t app : req.appIds) {
            if (model.owner.try_emplace(app, kSession).first->second == kSession) accepted.push_back(app);
        }
        const auto applyListed = [&](const std::vector<uint32_t>& ids) {
            for (const uint32_t app : ids) {
                if (const auto pack = packs.apps.find(app); pack != packs.apps.end()) model.applyPack(pack->second);
            }
        };
        applyListed(accepted);
        for (const auto& [sid, apps] : sidApps.sidApps) applyListed(apps.appIds);
        expected.push_back(appsAddedLine(accepted));
    }

    template <typename R> static R payloadOf(const std::string& bytes) {
        R record;
        if (bytes.empty()) return record;
        pakt::Unpack up(bytes.data(), bytes.size());
        record.unmarshal(up);
        return record;
    }

    void expectDeleteApps(SessionModel& model, const ps::PDelAppReq& req, std::vector<std::string>& expected) {
        // Always decoded: an empty field does not decode and the packet is refused.
        const std::string bytes = unzipped(req.sidApps, req.sidAppsZipped, req.sidAppsLen);
        pl::PluginSid2AppsMap sidApps;
        pakt::Unpack up(bytes.data(), bytes.size());
        sidApps.unmarshal(up);
        std::vector<uint32_t> deleted;
        for (const uint32_t app : req.appIds) {
            if (!model.ownedBy(app, kSession)) continue;
            model.proxies.erase(app);
            model.sdk.erase(app);
            model.owner.erase(app);
            deleted.push_back(app);
        }
        expected.push_back(appsDeletedLine(deleted));
    }

    void expectV2(SessionModel& model, const ps::PUserMsg3& msg, std::vector<std::string>& expected) {
        if (msg.msgType != 1 || msg.data.empty()) return;
        pakt::Unpack up(msg.data.data(), msg.data.size());
        ps::AppHeaderV2 header;
        try {
            pakt::unpackFields(header, up);
        } catch (const pakt::UnpackError&) {
            return;  // logged and dropped
        }
        model.appSource[header.appId] = msg.proxyId;
        if (!model.accept(header.seqNum, msg.proxyId, header.appMsgType)) return;
        try {
            if (header.appMsgType == ps::kAppMsgAppData) {
                ps::AppDataV2 data;
                pakt::unpackFields(data, up);
                expected.push_back(dataLine(header.appId, data.appData));
            } else if (header.appMsgType == ps::kAppMsgAddApp) {
                if (!model.claimForPlatform(header.appId)) return;
                model.sdk[header.appId] = 2;
                ps::AppInfoPack info;
                info.unmarshal(up);
                model.proxies[header.appId].insert(info.proxyId);
                expected.push_back(addedLine(info.appId));
            } else if (header.appMsgType == ps::kAppMsgDeleteApp) {
                if (!model.ownedBy(header.appId, kPlatform)) return;
                ps::AppInfoPack info;
                info.unmarshal(up);
                model.removeByPlatform(header.appId, 2);
                expected.push_back(removedLine(header.appId));
            }
        } catch (const pakt::UnpackError&) {
            // Logged and dropped; what changed before stays.
        }
    }

    void expectV3(SessionModel& model, const ps::PAppMsgToClient& msg, std::vector<std::string>& expected) {
        if (msg.data.empty()) return;
        model.appSource[msg.appId] = msg.srcId;
        if (!model.accept(msg.seqNum, msg.srcId, msg.appMsgType)) return;
        pakt::Unpack up(msg.data.data(), msg.data.size());
        try {
            if (msg.appMsgType == ps::kAppMsgAppData) {
                expected.push_back(dataLine(msg.appId, msg.data));
            } else if (msg.appMsgType == ps::kAppMsgAddApp) {
                if (!model.claimForPlatform(msg.appId)) return;
                model.sdk[msg.appId] = 3;
                ps::AppInfoPack3 info;
                info.unmarshal(up);
                model.proxies[info.appId] = std::set<uint64_t>(info.proxyIds.begin(), info.proxyIds.end());
                expected.push_back(addedLine(info.appId));
            } else if (msg.appMsgType == ps::kAppMsgDeleteApp) {
                ps::AppInfoPack3 info;
                info.unmarshal(up);
                if (!model.ownedBy(info.appId, kPlatform)) return;
                model.removeByPlatform(info.appId, 3);
                expected.push_back(removedLine(info.appId));
            } else if (msg.appMsgType == ps::kAppMsgUpdateProxies) {
                if (!model.ownedBy(msg.appId, kPlatform)) return;
                std::set<uint64_t>& proxies = model.proxies[msg.appId];
                proxies.clear();
                ps::PAppSdkInfo info;
                info.unmarshal(up);
                proxies.insert(info.proxyIds.begin(), info.proxyIds.end());
            }
        } catch (const pakt::UnpackError&) {
            // Logged and dropped; what changed before stays.
        }
    }

    // --- checks -----------------------------------------------------------------

    void compare(uint32_t sid, const std::string& what, const std::vector<std::string>& expected) {
        std::vector<std::string> actual;
        for (auto& [other, live] : m_live) {
            const std::vector<standin::Entry>& entries = live.object->entries();
            if (other != sid) {
                for (const standin::Entry& entry : entries) {
                    if (std::holds_alternative<standin::PostedEvent>(entry) ||
                        std::holds_alternative<standin::SentRequest>(entry)) {
                        fail(sid, what, "it changed session " + std::to_string(other) + ", which it was not for");
                    }
                }
                continue;
            }
            for (const standin::Entry& entry : entries) {
                if (const auto* event = std::get_if<standin::PostedEvent>(&entry)) {
                    actual.push_back(eventLine(*event));
                } else if (const auto* sent = std::get_if<standin::SentRequest>(&entry)) {
                    if (std::string line = sendLine(*sent); !line.empty()) actual.push_back(std::move(line));
                }
            }
            live.object->clearEntries();
        }
        standin::clearLogRecords();
        m_checked += actual.size();
        if (actual == expected) return;
        const SessionModel& model = m_live.at(sid).model;
        fail(sid, what, takeover(model, actual) + "its effects differ from the model\n    expected: " +
                            joined(expected) + "\n    actual:   " + joined(actual));
    }

    // Names an app that one service claimed and the other took over, if the
    // actual effects show one.
    static std::string takeover(const SessionModel& model, const std::vector<std::string>& actual) {
        for (const std::string& line : actual) {
            std::istringstream in(line);
            std::string event, name, word;
            in >> event >> name >> word;
            if (name == "APP_ADDED" || name == "APP_REMOVED") {
                uint32_t app = 0;
                in >> app;
                if (model.ownedBy(app, kSession)) {
                    return "app " + std::to_string(app) + " is the session service's, but an app-platform message " +
                           (name == "APP_ADDED" ? "added" : "removed") + " it: ";
                }
            }
        }
        return {};
    }

    static std::string joined(const std::vector<std::string>& lines) {
        if (lines.empty()) return "(nothing)";
        std::string out;
        for (const std::string& line : lines) out += (out.empty() ? "" : "; ") + line;
        return out;
    }

    [[noreturn]] void fail(uint32_t sid, const std::string& what, const std::string& why) {
        throw SoakFailure("step " + std::to_string(m_step) + ", " + what + " for session " + std::to_string(sid) +
                          ": " + why);
    }

    // --- memory -----------------------------------------------------------------

    std::size_t liveState() const {
        std::size_t n = 0;
        for (const auto& [sid, live] : m_live) n += live.model.size();
        return n;
    }

    void checkpoint(uint64_t step, std::chrono::steady_clock::time_point started) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const MemoryUse memory = memoryUse();
        const std::size_t state = liveState();
        m_checkpoints.push_back({step, state, memory.heapInUse});
        std::ostringstream line;
        line << std::fixed << std::setprecision(1) << "soak: " << std::setw(3) << step * 100 / m_steps << "% "
             << step << " in " << seconds << " s (" << std::setprecision(0) << step / std::max(seconds, 1e-9)
             << "/s), " << m_live.size() << " sessions (" << m_joined << " joined, " << m_left << " left), "
             << "live state " << state << ", heap " << std::setprecision(1) << mib(memory.heapInUse)
             << " MiB, peak RSS " << mib(memory.peakResident) << " MiB";
        std::cout << line.str() << std::endl;
    }

    static double mib(uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

    // The heap may grow while the live state does, and no faster: at the
    // end of the run it may be above its peak in the first half by what the
    // live state grew since (it wanders around a plateau once sessions come
    // and go), then 10 % and 2 MiB. A few bytes kept per packet exceed that
    // over the second half of any but the shortest run.
    int verdict() {
        std::cout << "soak: " << m_steps << " packets and requests, " << m_checked << " effects and " << m_probes
                  << " probes checked against the model\n";
        std::size_t firstState = 0, lastState = 0;
        uint64_t firstHeap = 0, lastHeap = 0;
        for (const Checkpoint& c : m_checkpoints) {
            if (c.step * 2 <= m_steps) {
                firstState = std::max(firstState, c.liveState);
                firstHeap = std::max(firstHeap, c.heap);
            } else {
                lastState = c.liveState;
                lastHeap = c.heap;
            }
        }
        if (firstHeap == 0 || lastHeap == 0 || firstState == 0) {
            std::cout << "soak: too few checkpoints for a memory verdict\n";
        } else {
            const double growth = std::max(1.0, static_cast<double>(lastState) / static_cast<double>(firstState));
            const auto allowed = static_cast<uint64_t>(static_cast<double>(firstHeap) * growth * 1.1) + (2u << 20);
            if (lastHeap > allowed) {
                std::cerr << std::fixed << std::setprecision(1) << "sapp-host soak: FAILED: the heap grew from "
                          << mib(firstHeap) << " MiB to " << mib(lastHeap) << " MiB (at most " << mib(allowed)
                          << " MiB allowed) while the live state went from " << firstState
                          << " at most in the first half to " << lastState << "\n";
                return kExitFailed;
            }
            std::cout << std::fixed << std::setprecision(1) << "soak: heap " << mib(lastHeap) << " MiB at the end, "
                      << mib(firstHeap) << " MiB at most in the first half (live state " << lastState << " and "
                      << firstState << ")\n";
        }
        std::cout << "soak: passed\n";
        return kExitOk;
    }

    const ModuleLibrary& m_module;
    uint32_t m_sessionCount;
    uint64_t m_steps;
    uint64_t m_seed;
    std::mt19937_64 m_rng;
    ISessionMod* m_pMod = nullptr;
    std::map<uint32_t, LiveSession> m_live;
    uint32_t m_nextSid = kFirstSid;
    uint64_t m_joined = 0;
    uint64_t m_left = 0;
    uint64_t m_step = 0;
    uint64_t m_lastTenth = 0;
    uint64_t m_checked = 0;
    uint64_t m_probes = 0;
    std::vector<Checkpoint> m_checkpoints;
};

uint64_t number(const std::optional<std::string>& text, const char* option, uint64_t fallback, uint64_t least,
                uint64_t most) {
    if (!text) return fallback;
    uint64_t value = 0;
    const bool digits = !text->empty() && text->size() <= 18 &&
                        std::all_of(text->begin(), text->end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) value = std::stoull(*text);
    if (!digits || value < least || value > most) {
        throw std::invalid_argument(std::string(option) + ": expected a number from " + std::to_string(least) +
                                    " to " + std::to_string(most) + ", got \"" + *text + "\"");
    }
    return value;
}

}  // namespace

int soakCommand(const Options& options) {
    const auto sessions = static_cast<uint32_t>(number(options.sessions, "--sessions", 100, 1, 100000));
    const uint64_t packets = number(options.packets, "--packets", 100000, 1, 1000000000000ull);
    const uint64_t seed = number(options.seed, "--seed", 1, 0, 999999999999999999ull);
    ModuleLibrary module;
    try {
        module = loadModule(modulePathOf(options));
    } catch (const std::runtime_error& e) {
        std::cerr << "sapp-host soak: " << e.what() << "\n";
        return kExitBadInput;
    }
    try {
        Soak soak(module, sessions, packets, seed);
        return soak.run();
    } catch (const SoakFailure& e) {
        std::cout.flush();
        std::cerr << "sapp-host soak: FAILED: " << e.what() << "\n";
        return kExitFailed;
    } catch (const std::exception& e) {
        // Nothing else may leave the module for these packets and requests.
        std::cout.flush();
        std::cerr << "sapp-host soak: FAILED: an exception left the module: " << e.what() << "\n";
        return kExitFailed;
    }
}

}  // namespace sapphost
