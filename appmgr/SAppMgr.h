// The app manager of one channel session: the registry of the channel's apps
// (proxies, SDK generation, announcing service, per-source duplicate filter),
// the add, update and delete notices of both services, and the relay of
// app-platform messages in both directions. Events leave through the owner's
// session, packets through its send; uplink messages are numbered from one
// process-wide counter. Proxies are kept and walked in ascending order. Only the two
// downlink entry points catch pakt::UnpackError; changes made before the
// error stay.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "appmgr/IdMap.h"
#include "appmgr/ProxySet.h"
#include "marshal/BlockBuffer.h"
#include "protocol/ClientEvents.h"
#include "protocol/RecordsFwd.h"
#include "protocol/SessionRecords.h"

class SessionLink;
class IProtoPacket;
struct AppEvent;

namespace pakt {
class Unpack;
}

class SAppMgr {
public:
    // Values of the source map: which service announced an app. The first
    // service to announce an app owns it.
    static constexpr uint32_t kAppSourcePlatform = 1;
    static constexpr uint32_t kAppSourceSession = 2;

    explicit SAppMgr(const SessionLink& session);
    SAppMgr(const SAppMgr&) = delete;
    SAppMgr& operator=(const SAppMgr&) = delete;

    // Session-service notices, whose byte runs must stay valid for the call.
    // A zipped list is read from its unzipped bytes; a packed field that
    // does not read throws pakt::UnpackError before any change, and before
    // anything of either list is built. Each posts
    // its event, also when no app was accepted or deleted.
    void onAddAppReq(protocol::session::PAddAppReqView& req);
    void onDelAppReq(protocol::session::PDelAppReqView& req);

    // App-platform messages from a proxy (SDK V2 and V3 carriers): sequence
    // check per source, then app data, add, delete or (V3) proxy update.
    // The message is given up: its data may move into the event.
    void onAppDlMsgV2(const protocol::session::PUserMsg3View& msg);
    void onAppDlMsgV3(const protocol::session::PAppMsgToClientView& msg);
    // The notices the handler table hands over as they come, decoded
    // (handlers/SAppProtoHandler.cc): one overload per such row's view.
    void onNotice(const protocol::session::PUserMsg3View& msg) { onAppDlMsgV2(msg); }
    void onNotice(const protocol::session::PAppMsgToClientView& msg) { onAppDlMsgV3(msg); }

    // Sends a client message to every proxy of the app in its generation's
    // carrier. False when the app has no proxy entry or no SDK version.
    bool sendAppMsg(uint32_t appId, const std::string& data);

    // Asks the server for the announce apps, and relays its two notices raw.
    void queryAnnounceApps();
    void onAddAnnounceApps(IProtoPacket* packet);
    void onSetCurrentAnnounceApp(IProtoPacket* packet);

private:
    struct App;

    void dispatchV2(const protocol::session::PUserMsg3View& msg);
    void dispatchV3(const protocol::session::PAppMsgToClientView& msg);
    // Posts an app's data message: the event's copy of `data` is the only one.
    void postData(uint32_t appId, std::string_view data);
    // 0: accept (and remember seqNum), -1: drop.
    int32_t checkSeqNum(uint32_t seqNum, uint64_t srcId, uint16_t appMsgType);
    SAPP_COLD int32_t firstFromSource(uint32_t seqNum, uint64_t srcId);

    void addAppV2(uint32_t appId, pakt::Unpack& body);
    void addAppV3(uint32_t appId, pakt::Unpack& body);
    void deleteAppV2(uint32_t appId, pakt::Unpack& body);
    void deleteAppV3(pakt::Unpack& body);
    void updateProxiesV3(uint32_t appId, pakt::Unpack& body);
    // Records the last source of the app's downlink messages.
    void setSource(uint32_t appId, uint64_t srcId);
    // Makes `source` the owner of an app nobody owns; true when it owns it.
    bool claim(uint32_t appId, uint32_t source);
    static bool claim(App& app, uint32_t source);
    bool isOwnedBy(uint32_t appId, uint32_t source) const;
    void setSdkVersion(uint32_t appId, uint32_t sdkVersion);
    void removeApp(uint32_t appId, uint32_t sdkVersion, bool flag, const std::string& str2);

    // Applies the packs of the accepted apps, then those listed per sid.
    // Their proxy lists move into the registry: `appPacks` is left without them.
    // accepted[i].entry is the registry's entry of appIds[i], taken when it
    // was accepted; the table has not grown since. Its pack is found here.
    struct Accepted {
        App* entry;
        vessaplugin::appMgr::PluginAppPack* pack = nullptr;
    };
    void applyAppPacks(vessaplugin::appMgr::PluginAppPackMap& appPacks,
                       const vessaplugin::appMgr::PluginSid2AppsMap& sidApps,
                       const std::vector<uint32_t>& appIds, std::vector<Accepted>& accepted);
    // Applies `pack` to `app`, its app's entry.
    void applyAppPack(App& app, vessaplugin::appMgr::PluginAppPack& pack);

    void sendAppMsgV2(uint32_t appId, const ProxySet& proxies, const std::string& data);
    void sendAppMsgV3(uint32_t appId, const ProxySet& proxies, const std::string& data);
    void relayAnnounceApps(IProtoPacket* packet);
    void post(const AppEvent& event);

    // What the registry knows of one app: four facts, each present or
    // absent on its own. An app can have proxies and no SDK version (a V3
    // add carried under another app's id), an SDK version of 0 (a V2 delete
    // of an app that had none), or nothing but the source of its last
    // downlink message (after its delete). The entry goes when no fact is
    // left.
    struct App {
        enum Fact : uint8_t { kProxies = 1, kSdkVersion = 2, kOwner = 4, kSrcId = 8 };

        ProxySet proxies;         // the proxies, walked ascending by the uplink
        uint64_t srcId = 0;       // the source of the app's last downlink message
        uint32_t sdkVersion = 0;  // 2 (SDK V2) or 3 (SDK V3), or whatever a pack said
        uint32_t owner = 0;       // kAppSourcePlatform or kAppSourceSession: who announced it first
        uint8_t facts = 0;        // which of the above are present

        bool has(Fact fact) const { return (facts & fact) != 0; }
        void set(Fact fact) { facts = static_cast<uint8_t>(facts | fact); }
        void drop(Fact fact) { facts = static_cast<uint8_t>(facts & ~fact); }
    };
    // The app's proxies, made present (empty) if they were not.
    ProxySet& proxiesOf(uint32_t appId);

    // The registry, keyed by the ids the server sends. Nothing walks either
    // table in key order: every use is a lookup of one id, and the only
    // ordered walk, an app's proxies, is the proxy set's. So both are hash
    // tables with per-process keys (IdMap.h), one entry per app holding all
    // it knows: one lookup per app and operation, where separate ordered
    // maps took up to four, each a tree descent and each insertion a node.
    // Measured (bench/callgrind.sh, instructions per app of BM_AppList/1000
    // and per V3 data message): five ordered maps 6,865 and 564; one entry
    // per app in a sorted vector 4,011 and 605, whose insertion moves every
    // later entry, so that a notice of ids in descending order costs the
    // square of its length; in this table 3,916 and 551.
    IdMap<uint32_t, App> m_apps;              // app -> what the registry knows of it
    IdMap<uint64_t, uint32_t> m_srcSeqNums;   // source -> last accepted seqNum
    const SessionLink& m_session;

    // The records of the three messages that come by the thousand, made
    // once and filled anew for each message: their strings and lists keep
    // their storage, so that a data message or an uplink allocates nothing
    // once one of its size has passed. (Made afresh, each cost an
    // allocation and its free, about 150 instructions apiece, a third of
    // a V3 data message.) The host has each only for the call that hands it
    // over, as it had the ones made on the stack, and cannot tell them
    // apart. Storage beyond kKeptBytes is let go after the message, so a
    // session keeps a few hundred KiB at most.
    static constexpr std::size_t kKeptBytes = 64 * 1024;
    void letGoOfLarge();
    AppDataEvent m_dataEvent;               // EVENT_APP_DATA
    protocol::session::PUserMsg3 m_uplinkV2;     // the V2 uplink, sent once per proxy
    protocol::session::PAppMsgToSDK m_uplinkV3;  // the V3 uplink
    pakt::BlockBuffer m_payloadV2;          // where the V2 uplink's payload is packed
};
