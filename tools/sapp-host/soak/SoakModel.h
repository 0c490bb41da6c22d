// The soak's model of one session's app registry.
//
// It keeps what the module's app manager keeps (appmgr/SAppMgr.cc: the
// five maps under the same names) and says, for every packet and client
// request the soak plays, how the registry changes and which effects the
// module must produce: the events it posts and the app messages it sends,
// each as one comparable line. The operations carry the app manager's names
// and follow its order, so the two read side by side; the model is written
// from the documented behaviour, not from that code, and where the code
// takes a shortcut the model takes the plain road (it applies every listed
// pack in turn).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "marshal/Fields.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"

namespace sapphost::soak {

inline constexpr uint32_t kAppSourcePlatform = 1;  // the app platform (SDK V2 and V3 messages)
inline constexpr uint32_t kAppSourceSession = 2;   // the session service (PAddAppReq, PDelAppReq)

// What a step makes the module do, in order: "event ..." and "send ..." lines.
using Effects = std::vector<std::string>;

std::string addedLine(uint32_t app);
std::string removedLine(uint32_t app);
std::string dataLine(uint32_t app, const std::string& data);
std::string appsAddedLine(const std::vector<uint32_t>& ids);
std::string appsDeletedLine(const std::vector<uint32_t>& ids);
std::string v2SendLine(uint32_t app, uint64_t proxy);
std::string v3SendLine(uint32_t app, const std::vector<uint64_t>& proxies);
// "[1,2,3]".
template <typename C>
std::string numberList(const C& values) {
    std::string out = "[";
    for (const auto v : values) {
        if (out.size() > 1) out += ',';
        out += std::to_string(v);
    }
    out += ']';
    return out;
}

bool isEventLine(const std::string& line);
bool isSendLine(const std::string& line);

// `bytes` read as record R (bytes after it are ignored); pakt::UnpackError
// when they do not hold one.
template <typename R>
R decoded(std::string_view bytes) {
    R record;
    pakt::Unpack up(bytes.data(), bytes.size());
    pakt::unpackFields(record, up);
    return record;
}

class RegistryModel {
public:
    // The registry's entries, for the soak's measure of the live state.
    std::size_t size() const;

    // A packet under `uri`: the record of its row in the packet table,
    // decoded and read by the reading below for its record; nothing for
    // packets the module does not decode. pakt::UnpackError when the record
    // does not decode.
    void onPacket(uint32_t uri, std::string_view body, Effects& out);

    // Session-service notices. The record is the whole packet, decoded; a
    // payload that does not decode throws pakt::UnpackError before any
    // change, as it leaves the module.
    void onAddAppReq(const protocol::session::PAddAppReq& req, Effects& out);
    void onDelAppReq(const protocol::session::PDelAppReq& req, Effects& out);

    // App-platform messages (their payload errors are the module's to log).
    void onAppDlMsgV2(const protocol::session::PUserMsg3& msg, Effects& out);
    void onAppDlMsgV3(const protocol::session::PAppMsgToClient& msg, Effects& out);

    // A client's REQ_APP_DATA: the messages sent for it.
    void sendAppMsg(uint32_t appId, Effects& out) const;

    // The last accepted sequence number of a source, if it has sent.
    const uint32_t* lastSeqNum(uint64_t srcId) const;
    // The apps the registry knows anything of, ascending.
    std::vector<uint32_t> knownApps() const;
    // True when `appId` belongs to the session service.
    bool ownedBySession(uint32_t appId) const { return isOwnedBy(appId, kAppSourceSession); }

private:
    bool checkSeqNum(uint32_t seqNum, uint64_t srcId, uint16_t appMsgType);
    bool claim(uint32_t appId, uint32_t source);
    bool isOwnedBy(uint32_t appId, uint32_t source) const;
    void removeApp(uint32_t appId, uint32_t sdkVersion);
    void applyAppPacks(const vessaplugin::appMgr::PluginAppPackMap& packs,
                       const vessaplugin::appMgr::PluginSid2AppsMap& sidApps, const std::vector<uint32_t>& appIds);
    void applyAppPack(const vessaplugin::appMgr::PluginAppPack& pack);

    std::map<uint32_t, std::set<uint64_t>> m_appProxies;
    std::map<uint64_t, uint32_t> m_srcSeqNums;
    std::map<uint32_t, uint64_t> m_appSrcIds;
    std::map<uint32_t, uint32_t> m_appSdkVersions;
    std::map<uint32_t, uint32_t> m_appSources;
};

}  // namespace sapphost::soak
