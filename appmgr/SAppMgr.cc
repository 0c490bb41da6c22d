#include "appmgr/SAppMgr.h"

#include <algorithm>
#include <iterator>

#include "appmgr/ClientAppInfo.h"
#include "host/ClientEvents.h"
#include "host/IProtoPacket.h"
#include "host/ISession.h"
#include "host/Pktcore.h"
#include "marshal/Errors.h"
#include "marshal/Fields.h"
#include "module/SAppContext.h"
#include "protocol/Packets.h"
#include "support/SAppLog.h"

using namespace protocol::session;
using vessaplugin::appMgr::PluginAppPack;
using vessaplugin::appMgr::PluginAppPackMap;
using vessaplugin::appMgr::PluginSid2AppsMap;

namespace {

// Uplink sequence number shared by every session and both SDK generations.
// The host calls the module one call at a time, so no lock is taken.
uint32_t s_appMsgSeq = 1;

constexpr uint16_t kMsgTypeAppPlatform = 1;  // PUserMsg3::msgType of app-platform traffic
constexpr uint32_t kSdkV2 = 2;
constexpr uint32_t kSdkV3 = 3;
// A sequence number this far behind the last one means the source wrapped.
constexpr uint32_t kSeqWrapDistance = 2000000000u;

// The bytes of payload P of `record` (protocol/Packets.h): the field itself,
// or, when the server zipped it, what the host unzips it to (kept in
// `holder`).
template <template <class> class P, class R>
std::string_view unzipped(const R& record, std::string& holder) {
    using Field = P<R>;
    const std::string_view bytes = record.*Field::bytes;
    if (!(record.*Field::zipped)) return bytes;
    holder.assign(bytes);
    holder = ProtoHelper::UnZipString(holder, record.*Field::length);
    return holder;
}

}  // namespace

SAppMgr::SAppMgr(SAppContext* owner) : m_context(owner) {}

// --- downlink ----------------------------------------------------------------

void SAppMgr::onAppDlMsgV2(const PUserMsg3View& msg) {
    try {
        dispatchV2(msg);
    } catch (const pakt::UnpackError&) {
        SAPP_LOG("AppMgr, SDK V2: appDlMsg->data Unpack Error");
    }
}

void SAppMgr::onAppDlMsgV3(const PAppMsgToClientView& msg) {
    try {
        dispatchV3(msg);
    } catch (const pakt::UnpackError&) {
        SAPP_LOG("AppMgr, SDK V3: appDlMsg->data Unpack Error");
    }
}

void SAppMgr::dispatchV2(const PUserMsg3View& msg) {
    if (msg.msgType != kMsgTypeAppPlatform) {
        SAPP_LOG("AppMgr, Receive a non-AppPlatform message.");
        return;
    }
    if (msg.data.empty()) {
        // Kept word for word, odd as it reads: ARCHITECTURE.md, "Log texts".
        SAPP_LOG("AppMgr, Bad PAppSrvData msg:data->size() < 1");
        return;
    }
    pakt::Unpack up(msg.data.data(), msg.data.size());
    AppHeaderV2 header;
    pakt::unpackFields(header, up);
    // Downlink, the carrier's proxy is the message source.
    setSource(header.appId, msg.proxyId);
    if (checkSeqNum(header.seqNum, msg.proxyId, header.appMsgType) < 0) return;

    switch (header.appMsgType) {
    case kAppMsgDeleteApp:
        deleteAppV2(header.appId, up);
        break;
    case kAppMsgAppData: {
        // The view finds the app data inside the payload, which lies in the
        // packet's body: the event's copy is the only one.
        AppDataV2View body;
        pakt::unpackFields(body, up);
        AppDataEvent event;
        event.appId = header.appId;
        event.data = body.appData;
        post(event);
        break;
    }
    case kAppMsgAddApp:
        addAppV2(header.appId, up);
        break;
    default:
        // Kept word for word, odd as it reads: ARCHITECTURE.md, "Log texts".
        PLOG("AppMgr, not supported appMsgType:");
        break;
    }
}

void SAppMgr::dispatchV3(const PAppMsgToClientView& msg) {
    if (msg.data.empty()) {
        // Kept word for word, odd as it reads: ARCHITECTURE.md, "Log texts".
        SAPP_LOG("AppMgr, SDK V3: Bad PAppSrvData msg:data->size() < 1");
        return;
    }
    pakt::Unpack up(msg.data.data(), msg.data.size());
    setSource(msg.appId, msg.srcId);
    if (checkSeqNum(msg.seqNum, msg.srcId, msg.appMsgType) < 0) return;

    switch (msg.appMsgType) {
    case kAppMsgDeleteApp:
        deleteAppV3(up);
        break;
    case kAppMsgAppData: {
        AppDataEvent event;
        event.appId = msg.appId;
        event.data = msg.data;
        post(event);
        break;
    }
    case kAppMsgAddApp:
        addAppV3(msg.appId, up);
        break;
    case kAppMsgUpdateProxies:
        updateProxiesV3(msg.appId, up);
        break;
    default:
        SAPP_LOG("AppMgr, SDK V3: Not supported appMsgType.");
        break;
    }
}

int32_t SAppMgr::checkSeqNum(uint32_t seqNum, uint64_t srcId, uint16_t appMsgType) {
    const auto found = m_srcSeqNums.find(srcId);
    if (found == m_srcSeqNums.end()) return firstFromSource(seqNum, srcId);
    const uint32_t last = found->second;
    const bool newer = seqNum > last;
    const bool wrapped = static_cast<uint32_t>(seqNum + kSeqWrapDistance) <= last;
    if (newer || wrapped || appMsgType == kAppMsgAddApp) {
        found->second = seqNum;
        return 0;
    }
    return -1;
}

// Out of line, so that the check for a known source saves no registers for
// the log call it does not make.
int32_t SAppMgr::firstFromSource(uint32_t seqNum, uint64_t srcId) {
    SAPP_LOG("AppMgr, first packet, srcId/seqNum=", srcId, seqNum);
    m_srcSeqNums.emplace(srcId, seqNum);
    return 0;
}

// --- app-platform add, delete, update -----------------------------------------

void SAppMgr::setSource(uint32_t appId, uint64_t srcId) { m_appSrcIds[appId] = srcId; }

// First writer wins: the entry is made only if the app has none.
bool SAppMgr::claim(uint32_t appId, uint32_t source) {
    return m_appSources.try_emplace(appId, source).first->second == source;
}

bool SAppMgr::claimForPlatform(uint32_t appId) { return claim(appId, kAppSourcePlatform); }

bool SAppMgr::isOwnedBy(uint32_t appId, uint32_t source) const {
    const auto found = m_appSources.find(appId);
    return found != m_appSources.end() && found->second == source;
}

void SAppMgr::setProxies(Proxies& proxies, const std::vector<uint64_t>& ids) {
    proxies.clear();
    proxies.insert(ids.begin(), ids.end());
}

SAppMgr::Proxies& SAppMgr::proxiesOf(uint32_t appId) { return m_appProxies[appId]; }

void SAppMgr::setSdkVersion(uint32_t appId, uint32_t sdkVersion) { m_appSdkVersions[appId] = sdkVersion; }

void SAppMgr::addAppV2(uint32_t appId, pakt::Unpack& body) {
    if (!claimForPlatform(appId)) return;
    setSdkVersion(appId, kSdkV2);
    AppInfoPack info;
    info.unmarshal(body);
    proxiesOf(appId).insert(info.proxyId);

    AppAddedEvent event;
    event.info = toClientAppInfo(info);
    post(event);
}

void SAppMgr::addAppV3(uint32_t appId, pakt::Unpack& body) {
    if (!claimForPlatform(appId)) return;
    // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("SDK V3: To Add app ", appId);
    setSdkVersion(appId, kSdkV3);
    AppInfoPack3 info;
    info.unmarshal(body);
    // The proxies go under the body's app id, not the carrier's.
    setProxies(proxiesOf(info.appId), info.proxyIds);

    AppAddedEvent event;
    event.info = toClientAppInfo(info);
    post(event);
}

void SAppMgr::deleteAppV2(uint32_t appId, pakt::Unpack& body) {
    if (!isOwnedBy(appId, kAppSourcePlatform)) return;
    // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("AppMgr, delete app ", appId);
    AppInfoPack info;
    info.unmarshal(body);
    removeApp(appId, kSdkV2, info.flag, info.str2);
}

void SAppMgr::deleteAppV3(pakt::Unpack& body) {
    AppInfoPack3 info;
    info.unmarshal(body);
    if (!isOwnedBy(info.appId, kAppSourcePlatform)) return;
    // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("SDK V3: to delete app ", info.appId);
    removeApp(info.appId, kSdkV3, info.flag, info.str2);
}

// The source entry stays: the app platform keeps owning the id.
void SAppMgr::removeApp(uint32_t appId, uint32_t sdkVersion, bool flag, const std::string& str2) {
    m_appProxies.erase(appId);
    // Leaves a 0 version behind when the app had no version.
    const auto version = m_appSdkVersions.try_emplace(appId, 0).first;
    if (version->second == sdkVersion) m_appSdkVersions.erase(version);

    AppRemovedEvent event;
    event.appId = appId;
    event.flag = flag;
    event.str2 = ProtoA2U::net2app(str2);
    post(event);
}

void SAppMgr::updateProxiesV3(uint32_t appId, pakt::Unpack& body) {
    if (!isOwnedBy(appId, kAppSourcePlatform)) return;
    // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("SDK_V3:  TO Recieve update app");
    // Emptied before the read: a body that does not read leaves no proxies.
    Proxies& proxies = proxiesOf(appId);
    proxies.clear();
    PAppSdkInfo info;
    info.unmarshal(body);
    setProxies(proxies, info.proxyIds);
}

// --- session-service add and delete -------------------------------------------

void SAppMgr::onAddAppReq(PAddAppReqView& req) {
    std::string appPacksUnzipped;
    std::string sidAppsUnzipped;
    const std::string_view appPacks = unzipped<AppPacks>(req, appPacksUnzipped);
    const std::string_view sidApps = unzipped<SidApps>(req, sidAppsUnzipped);

    AppsAddedEvent event;
    event.sid = req.sid;
    if (!appPacks.empty()) {
        pakt::Unpack up(appPacks.data(), appPacks.size());
        event.appPacks.unmarshal(up);
    }
    if (!sidApps.empty()) {
        pakt::Unpack up(sidApps.data(), sidApps.size());
        event.sidApps.unmarshal(up);
    }
    event.appIds.reserve(req.appIds.size());
    for (const uint32_t appId : req.appIds) {
        if (!claim(appId, kAppSourceSession)) continue;
        event.appIds.push_back(appId);
        SAPP_LOG("AppMgr, sid/app_id=", req.sid, appId);
    }
    event.context = std::move(req.context);

    applyAppPacks(event.appPacks, event.sidApps, event.appIds);
    post(event);
}

// Applying a pack replaces its app's proxies and SDK version and restarts
// the sequence check of the app's last source; it logs and posts nothing,
// and what it does to one app does not depend on any other. So where
// several listings reach packs of one app (an id listed twice, or under
// several sids, or two packs naming the same app), the pack applied last
// decides what stays, and applying only that one, once, leaves the registry
// exactly as applying every listing in turn would. The cost is then bounded
// by the listings plus the packs' own proxies, not by their product: one
// pack of 65,536 proxies listed 65,536 times is 65,536 insertions, not
// 4 * 10^9.
void SAppMgr::applyAppPacks(const PluginAppPackMap& appPacks, const PluginSid2AppsMap& sidApps,
                            const std::vector<uint32_t>& appIds) {
    // Every listing that reaches a pack, in the order the packs would be
    // applied; then, per app, only the last of them.
    struct Listing {
        uint32_t appId;  // the pack's own appId, which it applies to
        const PluginAppPack* pack;
    };
    std::vector<Listing> listings;
    const auto list = [&](const std::vector<uint32_t>& ids) {
        for (const uint32_t appId : ids) {
            const auto pack = appPacks.apps.find(appId);
            if (pack != appPacks.apps.end()) listings.push_back({pack->second.appId, &pack->second});
        }
    };
    listings.reserve(appIds.size());
    list(appIds);
    // Packs listed under a sid are applied whoever owns the app.
    for (const auto& [sid, apps] : sidApps.sidApps) list(apps.appIds);

    std::stable_sort(listings.begin(), listings.end(),
                     [](const Listing& a, const Listing& b) { return a.appId < b.appId; });
    for (auto listing = listings.begin(); listing != listings.end(); ++listing) {
        const auto next = std::next(listing);
        if (next == listings.end() || next->appId != listing->appId) applyAppPack(*listing->pack);
    }
}

void SAppMgr::applyAppPack(const PluginAppPack& pack) {
    setProxies(m_appProxies[pack.appId], pack.proxyIds);
    m_appSdkVersions[pack.appId] = pack.sdkVersion;
    // The app's last source starts afresh in the sequence check.
    const auto source = m_appSrcIds.find(pack.appId);
    if (source != m_appSrcIds.end()) m_srcSeqNums[source->second] = 0;
}

void SAppMgr::onDelAppReq(PDelAppReqView& req) {
    std::string sidAppsUnzipped;
    const std::string_view sidApps = unzipped<SidApps>(req, sidAppsUnzipped);

    AppsDeletedEvent event;
    event.sid = req.sid;
    pakt::Unpack up(sidApps.data(), sidApps.size());
    event.sidApps.unmarshal(up);
    for (const uint32_t appId : req.appIds) {
        const auto owner = m_appSources.find(appId);
        if (owner == m_appSources.end() || owner->second != kAppSourceSession) continue;
        m_appProxies.erase(appId);
        m_appSdkVersions.erase(appId);
        m_appSources.erase(owner);
        event.appIds.push_back(appId);
        // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
        PLOG("AppMgr, del app id: ", appId);
    }
    event.context = std::move(req.context);
    post(event);
}

// --- uplink and announce apps ---------------------------------------------------

bool SAppMgr::sendAppMsg(uint32_t appId, const std::string& data) {
    const auto proxies = m_appProxies.find(appId);
    if (proxies == m_appProxies.end()) {
        // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
        SAPP_LOG("AppMgr, No proxy found for app: ", appId);
        return false;
    }
    const auto version = m_appSdkVersions.find(appId);
    if (version == m_appSdkVersions.end()) {
        // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
        SAPP_LOG("AppMgr, Unknown SDK version of app type id: ", appId);
        return false;
    }
    // Any other version value: the app is known but cannot be served.
    if (version->second == kSdkV2) {
        sendAppMsgV2(appId, proxies->second, data);
    } else if (version->second == kSdkV3) {
        sendAppMsgV3(appId, proxies->second, data);
    }
    return true;
}

void SAppMgr::sendAppMsgV2(uint32_t appId, const Proxies& proxies, const std::string& data) {
    const ProtoUInfo& user = *m_context->userInfo();
    PUserMsg3 msg;
    msg.msgType = kMsgTypeAppPlatform;
    // The number is taken before packing: a message too big to pack still
    // uses it up.
    const uint32_t seqNum = s_appMsgSeq++;
    msg.data = packAppUplinkV2(seqNum, appId, user.getUid(), user.getSid(), data);
    for (const uint64_t proxyId : proxies) {
        msg.proxyId = proxyId;
        m_context->send(URI_USER_MSG3, msg);
    }
}

void SAppMgr::sendAppMsgV3(uint32_t appId, const Proxies& proxies, const std::string& data) {
    const ProtoUInfo& user = *m_context->userInfo();
    PAppMsgToSDK msg;
    msg.sid = user.getSid();
    msg.uid = ProtoHelper::getUid32(user.getUid());
    msg.appId = appId;
    msg.seqNum = s_appMsgSeq++;
    msg.reserved1 = 0;
    msg.proxyIds.assign(proxies.begin(), proxies.end());
    msg.reserved2 = 0;
    msg.data = data;
    m_context->send(URI_APP_MSG_TO_SDK, msg);
}

void SAppMgr::queryAnnounceApps() {
    SAPP_LOG("SAppMgr::queryAnnounceApps");
    const ProtoUInfo& user = *m_context->userInfo();
    PGetAnnounceApps req;
    req.sid = user.getSid();
    req.pid = user.getPid();
    req.uid = ProtoHelper::getUid32(user.getUid());
    m_context->send(URI_GET_ANNOUNCE_APPS, req);
}

void SAppMgr::onAddAnnounceApps(IProtoPacket* packet) {
    // Kept word for word, odd as it reads: ARCHITECTURE.md, "Log texts".
    PLOG("SessionAppMgr::onAddAnnounceApps, receive onAddAnnounceApps");
    relayAnnounceApps(packet);
}

void SAppMgr::onSetCurrentAnnounceApp(IProtoPacket* packet) {
    // Kept word for word, odd as it reads: ARCHITECTURE.md, "Log texts".
    PLOG("SessionAppMgr::onSetCurrentAnnounceApp, receive PSetCurrentAnnounceApp");
    relayAnnounceApps(packet);
}

// The body is relayed as it came; the client side decodes it.
void SAppMgr::relayAnnounceApps(IProtoPacket* packet) {
    AnnounceAppsEvent event;
    const int32_t length = packet->getBodyLen();
    if (length > 0) event.body.assign(packet->getBody(), static_cast<std::size_t>(length));
    post(event);
}

void SAppMgr::post(const AppEvent& event) { m_context->session()->postAppEvent(event); }
