#include "appmgr/SAppMgr.h"

#include <cstddef>
#include <cstdint>
#include <utility>

#include "appmgr/ClientAppInfo.h"
#include "host/IProtoPacket.h"
#include "host/ISession.h"
#include "host/Pktcore.h"
#include "marshal/Errors.h"
#include "marshal/Fields.h"
#include "marshal/ReadCheck.h"
#include "protocol/ClientEvents.h"
#include "protocol/Packets.h"
#include "support/SAppLog.h"
#include "support/SessionLink.h"

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

// Lists of more bytes than this, together, are checked to read whole
// before anything of them is built (pakt::checkReadable). Fewer bytes build
// at most about 3 MiB on their way to an error (a record is at most about
// 12.5 times its bytes: an 8-byte map entry is a tree node of about 100),
// which the memory bound's constant covers; checking them first would only
// cost time (260 instructions an app of a 1,000-app list).
constexpr std::size_t kCheckedListBytes = 256 * 1024;

// Reads an R from bytes that are known to read whole, or few enough.
template <class R>
void readChecked(std::string_view bytes, R& into) {
    pakt::Unpack up(bytes.data(), bytes.size());
    into.unmarshal(up);
}

}  // namespace

SAppMgr::SAppMgr(const SessionLink& session) : m_session(session) {}

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

// Inline in both carriers' paths: a known source is one probe and a compare.
inline int32_t SAppMgr::checkSeqNum(uint32_t seqNum, uint64_t srcId, uint16_t appMsgType) {
    uint32_t* const last = m_srcSeqNums.find(srcId);
    if (!last) return firstFromSource(seqNum, srcId);
    const bool newer = seqNum > *last;
    const bool wrapped = static_cast<uint32_t>(seqNum + kSeqWrapDistance) <= *last;
    if (newer || wrapped || appMsgType == kAppMsgAddApp) {
        *last = seqNum;
        return 0;
    }
    return -1;
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
    AppHeaderV2 header;
    // The payload's reader: its body is read on from where the header ends.
    pakt::Unpack up(msg.data.data(), msg.data.size());
    pakt::readFields(header, up);
    // Downlink, the carrier's proxy is the message source.
    setSource(header.appId, msg.proxyId);
    if (checkSeqNum(header.seqNum, msg.proxyId, header.appMsgType) < 0) return;

    switch (header.appMsgType) {
    case kAppMsgAppData: {
        // The view finds the app data inside the payload, which lies in the
        // packet's body: the event's copy is the only one.
        AppDataV2View body;
        pakt::readFields(body, up);
        postData(header.appId, body.appData);
        break;
    }
    case kAppMsgDeleteApp:
        deleteAppV2(header.appId, up);
        break;
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
    setSource(msg.appId, msg.srcId);
    if (checkSeqNum(msg.seqNum, msg.srcId, msg.appMsgType) < 0) return;

    // Data needs no reader: the carrier's data is the app's message whole.
    if (msg.appMsgType == kAppMsgAppData) return postData(msg.appId, msg.data);
    pakt::Unpack up(msg.data.data(), msg.data.size());
    switch (msg.appMsgType) {
    case kAppMsgDeleteApp:
        deleteAppV3(up);
        break;
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

// The one copy of the message: into the event's string, which keeps its
// storage from the message before.
void SAppMgr::postData(uint32_t appId, std::string_view data) {
    m_dataEvent.appId = appId;
    m_dataEvent.data.assign(data.data(), data.size());
    if (data.size() <= kKeptBytes) return post(m_dataEvent);
    try {
        post(m_dataEvent);
    } catch (...) {
        letGoOfLarge();
        throw;
    }
    letGoOfLarge();
}

// Lets go of the reused records' storage beyond kKeptBytes each.
void SAppMgr::letGoOfLarge() {
    if (m_dataEvent.data.capacity() > kKeptBytes) std::string().swap(m_dataEvent.data);
    if (m_uplinkV2.data.capacity() > kKeptBytes) std::string().swap(m_uplinkV2.data);
    if (m_uplinkV3.data.capacity() > kKeptBytes) std::string().swap(m_uplinkV3.data);
    if (m_uplinkV3.proxyIds.capacity() * sizeof(uint64_t) > kKeptBytes) {
        std::vector<uint64_t>().swap(m_uplinkV3.proxyIds);
    }
    if (m_payloadV2.capacity() > kKeptBytes) m_payloadV2.release();
}

// Out of line, so that the check for a known source saves no registers for
// the log call it does not make.
int32_t SAppMgr::firstFromSource(uint32_t seqNum, uint64_t srcId) {
    SAPP_LOG("AppMgr, first packet, srcId/seqNum=", srcId, seqNum);
    m_srcSeqNums[srcId] = seqNum;
    return 0;
}

// --- app-platform add, delete, update -----------------------------------------

void SAppMgr::setSource(uint32_t appId, uint64_t srcId) {
    App& app = m_apps[appId];
    app.srcId = srcId;
    app.set(App::kSrcId);
}

bool SAppMgr::claim(uint32_t appId, uint32_t source) { return claim(m_apps[appId], source); }

// First writer wins: the owner is set only if the app has none.
bool SAppMgr::claim(App& app, uint32_t source) {
    if (!app.has(App::kOwner)) {
        app.owner = source;
        app.set(App::kOwner);
    }
    return app.owner == source;
}

bool SAppMgr::isOwnedBy(uint32_t appId, uint32_t source) const {
    const App* app = m_apps.find(appId);
    return app && app->has(App::kOwner) && app->owner == source;
}

ProxySet& SAppMgr::proxiesOf(uint32_t appId) {
    App& app = m_apps[appId];
    app.set(App::kProxies);
    return app.proxies;
}

void SAppMgr::setSdkVersion(uint32_t appId, uint32_t sdkVersion) {
    App& app = m_apps[appId];
    app.sdkVersion = sdkVersion;
    app.set(App::kSdkVersion);
}

void SAppMgr::addAppV2(uint32_t appId, pakt::Unpack& body) {
    if (!claim(appId, kAppSourcePlatform)) return;
    setSdkVersion(appId, kSdkV2);
    AppInfoPack info;
    info.unmarshal(body);
    proxiesOf(appId).insert(info.proxyId);

    AppAddedEvent event;
    event.info = toClientAppInfo(info);
    post(event);
}

void SAppMgr::addAppV3(uint32_t appId, pakt::Unpack& body) {
    if (!claim(appId, kAppSourcePlatform)) return;
    // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("SDK V3: To Add app ", appId);
    setSdkVersion(appId, kSdkV3);
    AppInfoPack3 info;
    info.unmarshal(body);
    // The proxies go under the body's app id, not the carrier's.
    proxiesOf(info.appId).assign(info.proxyIds);

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
    // The app is owned, so it has an entry, and keeps it.
    App& app = *m_apps.find(appId);
    app.proxies.clear();
    app.drop(App::kProxies);
    if (!app.has(App::kSdkVersion)) {
        // Leaves a 0 version behind when the app had no version.
        app.sdkVersion = 0;
        app.set(App::kSdkVersion);
    }
    if (app.sdkVersion == sdkVersion) app.drop(App::kSdkVersion);

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
    ProxySet& proxies = proxiesOf(appId);
    proxies.clear();
    PAppSdkInfo info;
    info.unmarshal(body);
    proxies.assign(info.proxyIds);
}

// --- session-service add and delete -------------------------------------------

// Both lists are inflated; if they are long, both are checked to read whole
// without building anything (pakt::checkReadable, which throws the read's
// own error), and only then built: a notice that fails, however late, has
// built no more than a short list can. (Built as they were read, 4 MiB of
// version items that a short list after them failed held 30 MiB of records
// until the error, with no event to show for them.) The inflated bytes go
// before the packs are applied.
void SAppMgr::onAddAppReq(PAddAppReqView& req) {
    AppsAddedEvent event;
    event.sid = req.sid;
    {
        std::string packsHolder;
        std::string sidAppsHolder;
        const std::string_view packs = unzipped<AppPacks>(req, packsHolder);
        const std::string_view sidApps = unzipped<SidApps>(req, sidAppsHolder);
        // An empty list is not read.
        if (packs.size() + sidApps.size() > kCheckedListBytes) {
            if (!packs.empty()) pakt::checkReadable<PluginAppPackMap>(packs);
            if (!sidApps.empty()) pakt::checkReadable<PluginSid2AppsMap>(sidApps);
        }
        if (!packs.empty()) readChecked(packs, event.appPacks);
        if (!sidApps.empty()) readChecked(sidApps, event.sidApps);
    }
    event.appIds.reserve(req.appIds.size());
    // Every listed id gets an entry: the table grows once for the notice,
    // here, and the entries of the accepted ids stay where they are until
    // their packs are applied (applyAppPacks inserts none before it is
    // done with them, and the host cannot call in meanwhile).
    m_apps.reserve(m_apps.size() + req.appIds.size());
    std::vector<Accepted> accepted;
    accepted.reserve(req.appIds.size());
    for (const uint32_t appId : req.appIds) {
        App& app = *m_apps.tryEmplaceWalking(appId).first;
        if (!claim(app, kAppSourceSession)) continue;
        event.appIds.push_back(appId);
        accepted.push_back({&app});
        SAPP_LOG("AppMgr, sid/app_id=", req.sid, appId);
    }
    event.context = std::move(req.context);

    // The packs are applied after the event has gone out, and their proxy
    // lists move into the registry instead of being copied: nothing the host
    // can see in between tells the two orders apart (it cannot call in while
    // the module posts), and the event is ours again once post returns.
    // When post throws, the packs are applied before the exception goes on,
    // as they were when it came.
    try {
        post(event);
    } catch (...) {
        applyAppPacks(event.appPacks, event.sidApps, event.appIds, accepted);
        throw;
    }
    applyAppPacks(event.appPacks, event.sidApps, event.appIds, accepted);
}

void SAppMgr::onDelAppReq(PDelAppReqView& req) {
    AppsDeletedEvent event;
    event.sid = req.sid;
    {
        // Read even when empty, which then does not read.
        std::string holder;
        const std::string_view sidApps = unzipped<SidApps>(req, holder);
        if (sidApps.size() > kCheckedListBytes) pakt::checkReadable<PluginSid2AppsMap>(sidApps);
        readChecked(sidApps, event.sidApps);
    }
    for (const uint32_t appId : req.appIds) {
        App* app = m_apps.find(appId);
        if (!app || !app->has(App::kOwner) || app->owner != kAppSourceSession) continue;
        // The source of its last downlink message stays.
        if (app->has(App::kSrcId)) {
            app->proxies.clear();
            app->facts = App::kSrcId;
        } else {
            m_apps.erase(appId);
        }
        event.appIds.push_back(appId);
        // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
        PLOG("AppMgr, del app id: ", appId);
    }
    event.context = std::move(req.context);
    post(event);
}

// --- uplink and announce apps ---------------------------------------------------

bool SAppMgr::sendAppMsg(uint32_t appId, const std::string& data) {
    const App* app = m_apps.find(appId);
    if (!app || !app->has(App::kProxies)) {
        // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
        SAPP_LOG("AppMgr, No proxy found for app: ", appId);
        return false;
    }
    if (!app->has(App::kSdkVersion)) {
        // Kept word for word, trailing space included: ARCHITECTURE.md, "Log texts".
        SAPP_LOG("AppMgr, Unknown SDK version of app type id: ", appId);
        return false;
    }
    // Any other version value: the app is known but cannot be served.
    if (app->sdkVersion == kSdkV2) {
        sendAppMsgV2(appId, app->proxies, data);
    } else if (app->sdkVersion == kSdkV3) {
        sendAppMsgV3(appId, app->proxies, data);
    }
    return true;
}

void SAppMgr::sendAppMsgV2(uint32_t appId, const ProxySet& proxies, const std::string& data) {
    const ProtoUInfo& user = m_session.userInfo();
    PUserMsg3& msg = m_uplinkV2;
    msg.msgType = kMsgTypeAppPlatform;
    // The number is taken before packing: a message too big to pack still
    // uses it up.
    const uint32_t seqNum = s_appMsgSeq++;
    msg.data.assign(packAppUplinkV2(m_payloadV2, seqNum, appId, user.getUid(), user.getSid(), data));
    const SessionRequest request = SessionLink::request(URI_USER_MSG3, msg);
    try {
        proxies.forEach([&](uint64_t proxyId) {
            msg.proxyId = proxyId;
            m_session.send(request);
        });
    } catch (...) {
        letGoOfLarge();
        throw;
    }
    if (data.size() > kKeptBytes / 2) letGoOfLarge();
}

void SAppMgr::sendAppMsgV3(uint32_t appId, const ProxySet& proxies, const std::string& data) {
    const ProtoUInfo& user = m_session.userInfo();
    PAppMsgToSDK& msg = m_uplinkV3;
    msg.sid = user.getSid();
    msg.uid = ProtoHelper::getUid32(user.getUid());
    msg.appId = appId;
    msg.seqNum = s_appMsgSeq++;
    msg.reserved1 = 0;
    proxies.copyTo(msg.proxyIds);
    msg.reserved2 = 0;
    msg.data.assign(data);
    try {
        m_session.send(URI_APP_MSG_TO_SDK, msg);
    } catch (...) {
        letGoOfLarge();
        throw;
    }
    if (data.size() > kKeptBytes || msg.proxyIds.size() * sizeof(uint64_t) > kKeptBytes) letGoOfLarge();
}

void SAppMgr::queryAnnounceApps() {
    SAPP_LOG("SAppMgr::queryAnnounceApps");
    const ProtoUInfo& user = m_session.userInfo();
    PGetAnnounceApps req;
    req.sid = user.getSid();
    req.pid = user.getPid();
    req.uid = ProtoHelper::getUid32(user.getUid());
    m_session.send(URI_GET_ANNOUNCE_APPS, req);
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

void SAppMgr::post(const AppEvent& event) { m_session.session()->postAppEvent(event); }
