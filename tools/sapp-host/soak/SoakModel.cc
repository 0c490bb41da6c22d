#include "tools/sapp-host/soak/SoakModel.h"

#include "marshal/Errors.h"
#include "marshal/Fields.h"
#include "protocol/PacketVisitor.h"
#include "standin/pktcore/StandinSession.h"
#include "tools/sapp-host/records/JsonSupport.h"
#include "tools/sapp-host/records/Zlib.h"

namespace sapphost::soak {

namespace ps = protocol::session;
namespace pl = vessaplugin::appMgr;

namespace {

// What the host gives the module for a payload field: the bytes, or what
// they inflate to (nothing, for a stream the host refuses).
std::string unzipped(const std::string& field, uint8_t zipped, uint32_t length) {
    if (!zipped) return field;
    if (length > standin::unzipLimit()) return {};
    return inflateExactly(field, length).value_or(std::string());
}

}  // namespace

std::string addedLine(uint32_t app) { return "event APP_ADDED app " + std::to_string(app); }
std::string removedLine(uint32_t app) { return "event APP_REMOVED app " + std::to_string(app); }
std::string dataLine(uint32_t app, const std::string& data) {
    return "event APP_DATA app " + std::to_string(app) + " data " + toHex(data);
}
std::string appsAddedLine(const std::vector<uint32_t>& ids) { return "event APPS_ADDED apps " + numberList(ids); }
std::string appsDeletedLine(const std::vector<uint32_t>& ids) { return "event APPS_DELETED apps " + numberList(ids); }
std::string v2SendLine(uint32_t app, uint64_t proxy) {
    return "send PUserMsg3 app " + std::to_string(app) + " proxy " + std::to_string(proxy);
}
std::string v3SendLine(uint32_t app, const std::vector<uint64_t>& proxies) {
    return "send PAppMsgToSDK app " + std::to_string(app) + " proxies " + numberList(proxies);
}
bool isEventLine(const std::string& line) { return line.rfind("event ", 0) == 0; }
bool isSendLine(const std::string& line) { return line.rfind("send ", 0) == 0; }

std::size_t RegistryModel::size() const {
    std::size_t n = m_srcSeqNums.size() + m_appSrcIds.size() + m_appSdkVersions.size() + m_appSources.size();
    for (const auto& [app, proxies] : m_appProxies) n += 1 + proxies.size();
    return n;
}

std::vector<uint32_t> RegistryModel::knownApps() const {
    std::set<uint32_t> apps;
    for (const auto& [app, proxies] : m_appProxies) apps.insert(app);
    for (const auto& [app, version] : m_appSdkVersions) apps.insert(app);
    for (const auto& [app, source] : m_appSources) apps.insert(app);
    return {apps.begin(), apps.end()};
}

const uint32_t* RegistryModel::lastSeqNum(uint64_t srcId) const {
    const auto found = m_srcSeqNums.find(srcId);
    return found == m_srcSeqNums.end() ? nullptr : &found->second;
}

// --- downlink ----------------------------------------------------------------

// A message is new when its number is above the source's last, when it is at
// least 2,000,000,000 behind (the source wrapped), or when it adds an app.
bool RegistryModel::checkSeqNum(uint32_t seqNum, uint64_t srcId, uint16_t appMsgType) {
    const auto found = m_srcSeqNums.find(srcId);
    if (found == m_srcSeqNums.end()) {
        m_srcSeqNums[srcId] = seqNum;
        return true;
    }
    const bool wrapped = static_cast<uint32_t>(seqNum + 2000000000u) <= found->second;
    if (seqNum > found->second || wrapped || appMsgType == ps::kAppMsgAddApp) {
        found->second = seqNum;
        return true;
    }
    return false;
}

void RegistryModel::onAppDlMsgV2(const ps::PUserMsg3& msg, Effects& out) {
    if (msg.msgType != 1 || msg.data.empty()) return;
    pakt::Unpack up(msg.data.data(), msg.data.size());
    try {
        ps::AppHeaderV2 header;
        pakt::unpackFields(header, up);
        m_appSrcIds[header.appId] = msg.proxyId;
        if (!checkSeqNum(header.seqNum, msg.proxyId, header.appMsgType)) return;
        if (header.appMsgType == ps::kAppMsgAppData) {
            ps::AppDataV2 data;
            pakt::unpackFields(data, up);
            out.push_back(dataLine(header.appId, data.appData));
        } else if (header.appMsgType == ps::kAppMsgAddApp) {
            if (!claim(header.appId, kAppSourcePlatform)) return;
            m_appSdkVersions[header.appId] = 2;
            ps::AppInfoPack info;
            info.unmarshal(up);
            m_appProxies[header.appId].insert(info.proxyId);
            out.push_back(addedLine(info.appId));
        } else if (header.appMsgType == ps::kAppMsgDeleteApp) {
            if (!isOwnedBy(header.appId, kAppSourcePlatform)) return;
            ps::AppInfoPack info;
            info.unmarshal(up);
            removeApp(header.appId, 2);
            out.push_back(removedLine(header.appId));
        }
    } catch (const pakt::UnpackError&) {
        // Logged and dropped; what changed before stays.
    }
}

void RegistryModel::onAppDlMsgV3(const ps::PAppMsgToClient& msg, Effects& out) {
    if (msg.data.empty()) return;
    m_appSrcIds[msg.appId] = msg.srcId;
    if (!checkSeqNum(msg.seqNum, msg.srcId, msg.appMsgType)) return;
    pakt::Unpack up(msg.data.data(), msg.data.size());
    try {
        if (msg.appMsgType == ps::kAppMsgAppData) {
            out.push_back(dataLine(msg.appId, msg.data));
        } else if (msg.appMsgType == ps::kAppMsgAddApp) {
            if (!claim(msg.appId, kAppSourcePlatform)) return;
            m_appSdkVersions[msg.appId] = 3;
            ps::AppInfoPack3 info;
            info.unmarshal(up);
            // Under the body's app id.
            m_appProxies[info.appId] = std::set<uint64_t>(info.proxyIds.begin(), info.proxyIds.end());
            out.push_back(addedLine(info.appId));
        } else if (msg.appMsgType == ps::kAppMsgDeleteApp) {
            ps::AppInfoPack3 info;
            info.unmarshal(up);
            if (!isOwnedBy(info.appId, kAppSourcePlatform)) return;
            removeApp(info.appId, 3);
            out.push_back(removedLine(info.appId));
        } else if (msg.appMsgType == ps::kAppMsgUpdateProxies) {
            if (!isOwnedBy(msg.appId, kAppSourcePlatform)) return;
            std::set<uint64_t>& proxies = m_appProxies[msg.appId];
            proxies.clear();
            ps::PAppSdkInfo info;
            info.unmarshal(up);
            proxies.insert(info.proxyIds.begin(), info.proxyIds.end());
        }
    } catch (const pakt::UnpackError&) {
        // Logged and dropped; what changed before stays.
    }
}

// --- app-platform add, delete, update -----------------------------------------

bool RegistryModel::claim(uint32_t appId, uint32_t source) {
    return m_appSources.try_emplace(appId, source).first->second == source;
}

bool RegistryModel::isOwnedBy(uint32_t appId, uint32_t source) const {
    const auto found = m_appSources.find(appId);
    return found != m_appSources.end() && found->second == source;
}

// The owner stays: the platform keeps the id. A version entry of the other
// generation stays too; a missing one is left behind as 0.
void RegistryModel::removeApp(uint32_t appId, uint32_t sdkVersion) {
    m_appProxies.erase(appId);
    if (m_appSdkVersions[appId] == sdkVersion) m_appSdkVersions.erase(appId);
}

// --- session-service add and delete -------------------------------------------

namespace {

// Each record the module decodes, to the model's reading of it.
void read(RegistryModel& model, const ps::PAddAppReq& req, Effects& out) { model.onAddAppReq(req, out); }
void read(RegistryModel& model, const ps::PDelAppReq& req, Effects& out) { model.onDelAppReq(req, out); }
void read(RegistryModel& model, const ps::PUserMsg3& msg, Effects& out) { model.onAppDlMsgV2(msg, out); }
void read(RegistryModel& model, const ps::PAppMsgToClient& msg, Effects& out) { model.onAppDlMsgV3(msg, out); }
// The soak's traffic sends no other packet (SoakTraffic.cc).
template <class R>
void read(RegistryModel&, const R&, Effects&) {}

}  // namespace

void RegistryModel::onPacket(uint32_t uri, std::string_view body, Effects& out) {
    ps::forEachPacket([&](auto row) {
        using P = decltype(row);
        if constexpr (ps::isDecoded<P> && ps::isInbound<P>) {
            if (P::uri == uri) read(*this, decoded<typename P::Record>(body), out);
        }
    });
}

void RegistryModel::onAddAppReq(const ps::PAddAppReq& req, Effects& out) {
    // An empty payload field is not decoded.
    const std::string packBytes = unzipped(req.appPacks, req.appPacksZipped, req.appPacksLen);
    const std::string sidBytes = unzipped(req.sidApps, req.sidAppsZipped, req.sidAppsLen);
    const auto packs = packBytes.empty() ? pl::PluginAppPackMap{} : decoded<pl::PluginAppPackMap>(packBytes);
    const auto sidApps = sidBytes.empty() ? pl::PluginSid2AppsMap{} : decoded<pl::PluginSid2AppsMap>(sidBytes);
    std::vector<uint32_t> accepted;
    for (const uint32_t app : req.appIds) {
        if (claim(app, kAppSourceSession)) accepted.push_back(app);
    }
    applyAppPacks(packs, sidApps, accepted);
    out.push_back(appsAddedLine(accepted));
}

// Every listing in turn: the accepted ids, then the ids under each sid,
// whoever owns them.
void RegistryModel::applyAppPacks(const pl::PluginAppPackMap& packs, const pl::PluginSid2AppsMap& sidApps,
                                  const std::vector<uint32_t>& appIds) {
    const auto applyListed = [&](const std::vector<uint32_t>& ids) {
        for (const uint32_t app : ids) {
            if (const auto pack = packs.apps.find(app); pack != packs.apps.end()) applyAppPack(pack->second);
        }
    };
    applyListed(appIds);
    for (const auto& [sid, apps] : sidApps.sidApps) applyListed(apps.appIds);
}

void RegistryModel::applyAppPack(const pl::PluginAppPack& pack) {
    m_appProxies[pack.appId] = std::set<uint64_t>(pack.proxyIds.begin(), pack.proxyIds.end());
    m_appSdkVersions[pack.appId] = pack.sdkVersion;
    if (const auto source = m_appSrcIds.find(pack.appId); source != m_appSrcIds.end()) m_srcSeqNums[source->second] = 0;
}

void RegistryModel::onDelAppReq(const ps::PDelAppReq& req, Effects& out) {
    // Always decoded: an empty field does not decode and the packet is refused.
    decoded<pl::PluginSid2AppsMap>(unzipped(req.sidApps, req.sidAppsZipped, req.sidAppsLen));
    std::vector<uint32_t> deleted;
    for (const uint32_t app : req.appIds) {
        if (!isOwnedBy(app, kAppSourceSession)) continue;
        m_appProxies.erase(app);
        m_appSdkVersions.erase(app);
        m_appSources.erase(app);
        deleted.push_back(app);
    }
    out.push_back(appsDeletedLine(deleted));
}

// --- uplink ---------------------------------------------------------------------

void RegistryModel::sendAppMsg(uint32_t appId, Effects& out) const {
    const auto proxies = m_appProxies.find(appId);
    const auto version = m_appSdkVersions.find(appId);
    if (proxies == m_appProxies.end() || version == m_appSdkVersions.end()) return;
    if (version->second == 2) {
        for (const uint64_t proxy : proxies->second) out.push_back(v2SendLine(appId, proxy));
    } else if (version->second == 3) {
        out.push_back(v3SendLine(appId, {proxies->second.begin(), proxies->second.end()}));
    }
}

}  // namespace sapphost::soak
