#include "bench/BenchHost.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <benchmark/benchmark.h>

#include "bench/applist.pb.h"
#include "host/SessionEvent.h"
#include "marshal/BlockBuffer.h"
#include "marshal/Pack.h"
#include "marshal/Unpack.h"
#include "protocol/AppPayloads.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"

namespace sappbench {
namespace {

namespace ps = protocol::session;
namespace plugin = vessaplugin::appMgr;

std::string bytesOf(const pakt::Marshallable& record) {
    pakt::BlockBuffer buffer;
    pakt::Pack p(buffer);
    record.marshal(p);
    return p.str();
}

template <class R>
std::string fieldBytes(const R& record) {
    pakt::BlockBuffer buffer;
    pakt::Pack p(buffer);
    pakt::packFields(record, p);
    return p.str();
}

// The strings of app `id`: realistic lengths, some within the standard
// library's short-string buffer and some beyond it.
struct AppStrings {
    std::string name, description, address, version, package;
    explicit AppStrings(uint32_t id)
        : name("App " + std::to_string(id)),
          description("Channel app number " + std::to_string(id)),
          address("https://apps.example/a/" + std::to_string(id)),
          version("1.0." + std::to_string(id % 100)),
          package("https://cdn.example/p/" + std::to_string(id) + ".zip") {}
};

}  // namespace

void DiscardSession::removeWatcher(protocol::session::ISessionWatcher* watcher) {
    m_watchers.erase(std::remove(m_watchers.begin(), m_watchers.end(), watcher), m_watchers.end());
}

void DiscardSession::deliver(const protocol::session::SessionEvent& event) {
    const auto watchers = m_watchers;
    for (auto* watcher : watchers) watcher->onSessionEvent(event);
}

void BenchPacket::unmarshal(pakt::Marshallable& record) {
    pakt::Unpack up(m_body.data(), m_body.size());
    record.unmarshal(up);
}

IProtoPacket* SequencedPacket::next() {
    ++m_seq;
    std::memcpy(m_body.data() + m_offset, &m_seq, sizeof m_seq);  // little-endian, as on the wire
    return &m_packet;
}

std::size_t SequencedPacket::seqOffset(const std::string& zero, const std::string& ones) {
    const auto differs = std::mismatch(zero.begin(), zero.end(), ones.begin());
    if (zero.size() != ones.size() || differs.first == zero.end()) throw std::logic_error("no sequence number in body");
    return static_cast<std::size_t>(differs.first - zero.begin());
}

ModuleSession::ModuleSession(uint32_t sid) : m_sid(sid), m_session(sid), m_pModule(getModule(&m_session)) {
    protocol::session::SessionEvent info;
    info.type = protocol::session::EVENT_SESS_USER_INFO;
    info.sid = sid;
    info.uid = 11;
    m_session.deliver(info);
}

ModuleSession::~ModuleSession() {
    m_pModule->onLeave(m_sid);
    releaseModule(m_sid);
}

void ModuleSession::deliver(uint32_t uri, const std::string& body) {
    BenchPacket packet(uri, body);
    m_pModule->onPacket(m_sid, &packet);
}

std::vector<AppSpec> generatedApps(uint32_t count, uint32_t firstId) {
    std::vector<AppSpec> apps;
    apps.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t proxy = 1000000 + uint64_t{i} * 4;
        apps.push_back({firstId + i, {proxy, proxy + 1, proxy + 2, proxy + 3}, 3});
    }
    return apps;
}

std::string appPackMapBytes(const std::vector<AppSpec>& apps) {
    plugin::PluginAppPackMap map;
    for (const AppSpec& app : apps) {
        const AppStrings s(app.appId);
        plugin::PluginAppPack& pack = map.apps[app.appId];
        pack.appId = app.appId;
        pack.str1 = s.name;
        pack.str2 = s.description;
        pack.str3 = s.address;
        pack.num1 = 7;
        pack.short1 = 1;
        pack.short2 = 2;
        pack.short3 = 3;
        plugin::PluginVerItem version;
        version.num1 = 1;
        version.str1 = s.version;
        version.str2 = s.package;
        version.str3 = "stable";
        version.num2 = 2;
        version.num3 = 3;
        pack.versions.push_back(version);
        pack.num2 = 9;
        pack.byte1 = 1;
        pack.proxyIds = app.proxyIds;
        pack.sdkVersion = app.sdkVersion;
    }
    return bytesOf(map);
}

std::string appPackMapProtobuf(const std::vector<AppSpec>& apps) {
    AppPackMap map;
    for (const AppSpec& app : apps) {
        const AppStrings s(app.appId);
        AppPack& pack = (*map.mutable_apps())[app.appId];
        pack.set_app_id(app.appId);
        pack.set_str1(s.name);
        pack.set_str2(s.description);
        pack.set_str3(s.address);
        pack.set_num1(7);
        pack.set_short1(1);
        pack.set_short2(2);
        pack.set_short3(3);
        VerItem* version = pack.add_versions();
        version->set_num1(1);
        version->set_str1(s.version);
        version->set_str2(s.package);
        version->set_str3("stable");
        version->set_num2(2);
        version->set_num3(3);
        pack.set_num2(9);
        pack.set_byte1(1);
        for (const uint64_t proxy : app.proxyIds) pack.add_proxy_ids(proxy);
        pack.set_sdk_version(app.sdkVersion);
    }
    return map.SerializeAsString();
}

std::string addAppReqBytes(uint32_t sid, const std::vector<AppSpec>& apps) {
    ps::PAddAppReq req;
    req.sid = sid;
    req.appPacks = appPackMapBytes(apps);
    for (const AppSpec& app : apps) req.appIds.push_back(app.appId);
    return bytesOf(req);
}

[[gnu::noinline]] void buildAppListEvent(const plugin::PluginAppPackMap& read, std::vector<std::vector<uint64_t>>& kept) {
    plugin::PluginAppPackMap packs;
    for (const auto& [appId, pack] : read.apps) packs.apps.emplace_hint(packs.apps.end(), appId, pack);
    std::vector<uint32_t> ids;
    ids.reserve(packs.apps.size());
    for (const auto& entry : packs.apps) ids.push_back(entry.first);
    kept.reserve(kept.size() + packs.apps.size());
    // What the host would receive: kept from being optimised away.
    benchmark::DoNotOptimize(packs);
    benchmark::DoNotOptimize(ids);
    for (auto& entry : packs.apps) kept.push_back(std::move(entry.second.proxyIds));
}

plugin::PluginAppPackMap readAppList(const std::string& bytes) {
    plugin::PluginAppPackMap map;
    pakt::Unpack up(bytes.data(), bytes.size());
    map.unmarshal(up);
    return map;
}

[[gnu::noinline]] void decodeAppList(const std::string& bytes) {
    plugin::PluginAppPackMap map = readAppList(bytes);
    benchmark::DoNotOptimize(map);
}

std::string v3DataBytes(uint32_t appId, uint64_t srcId, uint32_t seq, const std::string& data) {
    ps::PAppMsgToClient msg;
    msg.appId = appId;
    msg.srcId = srcId;
    msg.seqNum = seq;
    msg.appMsgType = ps::kAppMsgAppData;
    msg.data = data;
    return bytesOf(msg);
}

std::string v2DataBytes(uint32_t appId, uint64_t proxyId, uint32_t seq, const std::string& data) {
    ps::PUserMsg3 msg;
    msg.proxyId = proxyId;
    msg.msgType = 1;
    ps::AppHeaderV2 header{seq, static_cast<uint8_t>(ps::kAppMsgAppData), appId};
    ps::AppDataV2 body;
    body.appData = data;
    msg.data = fieldBytes(header) + fieldBytes(body);
    return bytesOf(msg);
}

}  // namespace sappbench
