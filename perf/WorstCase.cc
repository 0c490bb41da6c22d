// sapp_worst_case KIND N [--zip] [--limit BYTES]: delivers one constructed
// packet of KIND with N elements to the module and prints what it cost the
// module: the packet's size, the time onPacket took and how far the
// process's resident memory rose while it ran (Linux: the peak is reset
// before the call through /proc/self/clear_refs and read from VmHWM after
// it, after the memory freed while building the packet has gone back to the
// system). The session posts events without copying them, so the figures are
// the module's own. "kept" is what the module's state holds on to after the
// call (glibc's count of bytes in use). perf/worst-case.sh runs the table of docs/robustness.md.
//
// KIND:
//   add-ids         PAddAppReq with N app ids (the registry keeps them)
//   add-idset       PAddAppReq with N ids in idSet
//   add-packs       PAddAppReq with N app ids and a pack for each
//   add-sidapps     PAddAppReq whose sidApps lists N app ids under one sid (zipped: one id N times)
//   add-quadratic   PAddAppReq with one pack of N proxies, listed N times in sidApps
//   del-ids         PDelAppReq with N app ids
//   v2-versions     PUserMsg3, SDK V2 app added with N version items
//   v2-idlist       PUserMsg3 with N ids in idList1
//   v3-proxies      PAppMsgToClient, SDK V3 app added with N proxies
//   v3-data         PAppMsgToClient, SDK V3 app data of N bytes
//   announce        announce-apps notice with a body of N bytes
// --zip compresses the payload fields of the PAddAppReq kinds; --limit sets
// the host's unzip limit (default 4 MiB); --request then times one client
// request for app 7, whose uplink carries the app's proxies as the packet
// left them (v3-proxies, add-quadratic).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <string>
#include <vector>

#include "host/ClientEvents.h"
#include "host/ClientRecords.h"
#include "marshal/Errors.h"
#include "module/ISessionMod.h"
#include "protocol/AppPayloads.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinLog.h"
#include "tools/sapp-host/FieldJson.h"
#include "tools/sapp-host/Zlib.h"

namespace {

namespace ps = protocol::session;
namespace pl = vessaplugin::appMgr;

// Packs a record into a buffer made large enough beforehand: pakt's buffer
// grows by the blocks it needs, so packing tens of MiB element by element
// would spend minutes copying before the measurement starts.
template <typename R> std::string packToString(const R& record, std::size_t reserve = 1u << 20) {
    pakt::BlockBuffer buffer;
    buffer.resize(reserve);
    buffer.resize(0);
    pakt::Pack pack(buffer);
    pakt::packFields(record, pack);
    return pack.str();
}

constexpr uint32_t kSid = 1234;

// Posts events and sends requests by counting them: the host's copy of an
// event and its marshalling of a request are not the module's cost.
class QuietSession : public standin::Session {
public:
    using standin::Session::Session;
    void postAppEvent(const AppEvent&) override { ++events; }
    void sendRequest(const SessionRequest&) override { ++sent; }
    unsigned events = 0;
    unsigned sent = 0;
};

// KiB of resident memory: now (VmRSS) or the peak since the last reset (VmHWM).
long statusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::string(key).size(), nullptr, 10);
    }
    return -1;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::string zipIf(bool zip, const std::string& plain, uint8_t& zipped, uint32_t& length) {
    if (!zip) return plain;
    zipped = 1;
    length = static_cast<uint32_t>(plain.size());
    return sapphost::deflateBytes(plain);
}

std::string build(const std::string& kind, uint32_t n, bool zip, uint32_t& uri) {
    if (kind.rfind("add-", 0) == 0) {
        uri = ps::URI_ADD_APP_REQ;
        ps::PAddAppReq req;
        req.sid = kSid;
        pl::PluginAppPackMap packs;
        pl::PluginSid2AppsMap sidApps;
        if (kind == "add-ids") {
            for (uint32_t i = 0; i < n; ++i) req.appIds.push_back(i + 1);
        } else if (kind == "add-idset") {
            for (uint32_t i = 0; i < n; ++i) req.idSet.insert(i + 1);
        } else if (kind == "add-packs") {
            for (uint32_t i = 0; i < n; ++i) {
                req.appIds.push_back(i + 1);
                packs.apps[i + 1].appId = i + 1;
                packs.apps[i + 1].sdkVersion = 3;
            }
        } else if (kind == "add-sidapps") {
            // Zipped, the list repeats one id, as a hostile stream would: it
            // compresses about 1000 to 1 (16.7 M ids in 65 KB). The module's
            // work is the same for any ids (none has a pack).
            std::vector<uint32_t>& ids = sidApps.sidApps[kSid].appIds;
            for (uint32_t i = 0; i < n; ++i) ids.push_back(zip ? 7 : i + 1);
        } else if (kind == "add-quadratic") {
            pl::PluginAppPack& pack = packs.apps[7];
            pack.appId = 7;
            pack.sdkVersion = 3;
            for (uint32_t i = 0; i < n; ++i) pack.proxyIds.push_back(i);
            sidApps.sidApps[kSid].appIds.assign(n, 7);
        } else {
            return {};
        }
        const std::size_t reserve = std::size_t{n} * 48 + 4096;
        req.appPacks = zipIf(zip, packToString(packs, reserve), req.appPacksZipped, req.appPacksLen);
        req.sidApps = zipIf(zip, packToString(sidApps, reserve), req.sidAppsZipped, req.sidAppsLen);
        return packToString(req, reserve);
    }
    if (kind == "del-ids") {
        uri = ps::URI_DEL_APP_REQ;
        ps::PDelAppReq req;
        req.sid = kSid;
        for (uint32_t i = 0; i < n; ++i) req.appIds.push_back(i + 1);
        req.sidApps = packToString(pl::PluginSid2AppsMap{});
        return packToString(req);
    }
    if (kind == "v2-versions" || kind == "v2-idlist") {
        uri = ps::URI_USER_MSG3;
        ps::PUserMsg3 msg;
        msg.msgType = 1;
        if (kind == "v2-idlist") {
            msg.idList1.assign(n, 9);
            msg.msgType = 7;  // decoded, then passed over
        } else {
            ps::AppHeaderV2 header{1, ps::kAppMsgAddApp, 7};
            ps::AppInfoPack info;
            info.appId = 7;
            info.versions.resize(n);
            msg.data = packToString(header) + packToString(info);
        }
        return packToString(msg);
    }
    if (kind == "v3-proxies" || kind == "v3-data") {
        uri = ps::URI_APP_MSG_TO_CLIENT;
        ps::PAppMsgToClient msg;
        msg.appId = 7;
        msg.seqNum = 1;
        if (kind == "v3-data") {
            msg.appMsgType = ps::kAppMsgAppData;
            msg.data.assign(n, 'd');
        } else {
            msg.appMsgType = ps::kAppMsgAddApp;
            ps::AppInfoPack3 info;
            info.appId = 7;
            for (uint32_t i = 0; i < n; ++i) info.proxyIds.push_back(i);
            msg.data = packToString(info);
        }
        return packToString(msg);
    }
    if (kind == "announce") {
        uri = ps::URI_ADD_ANNOUNCE_APPS;
        return std::string(n, 'a');
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: sapp_worst_case KIND N [--zip] [--limit BYTES] [--request]\n");
        return 2;
    }
    const std::string kind = argv[1];
    const auto n = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    bool zip = false;
    bool request = false;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--zip") zip = true;
        if (arg == "--request") request = true;
        if (arg == "--limit" && i + 1 < argc) standin::setUnzipLimit(static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10)));
    }
    uint32_t uri = 0;
    std::string body = build(kind, n, zip, uri);
    if (uri == 0) {
        std::fprintf(stderr, "sapp_worst_case: unknown kind %s\n", kind.c_str());
        return 2;
    }
    standin::setLogLevelEnabled(false);
    QuietSession session(kSid);
    ISessionMod* mod = getModule(&session);
    const std::size_t size = body.size();
    standin::Packet packet(uri, 200, std::move(body));
    standin::clearLogRecords();

    // What building the packet freed goes back to the system, so that the
    // module's allocations show in the resident memory.
    malloc_trim(0);
    const long before = statusKiB("VmRSS:");
    const std::size_t heapBefore = mallinfo2().uordblks + mallinfo2().hblkhd;
    resetPeak();
    const auto start = std::chrono::steady_clock::now();
    const char* outcome = "ok";
    try {
        mod->onPacket(kSid, &packet);
    } catch (const pakt::PacketError& e) {
        outcome = e.what();
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const long peak = statusKiB("VmHWM:");
    const double kept = (static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd) - heapBefore) / 1048576.0;
    std::printf("%s %u%s: packet %zu bytes, onPacket %.1f ms, resident +%.1f MiB at peak, heap +%.1f MiB kept, "
                "%u events (%s)\n",
                kind.c_str(), n, zip ? " zipped" : "", size, ms, (peak - before) / 1024.0, kept, session.events,
                outcome);
    if (request) {
        AppDataRequest appData;
        appData.type = REQ_APP_DATA;
        appData.appId = 7;
        appData.data = "aa";
        const auto requestStart = std::chrono::steady_clock::now();
        mod->onRequest(kSid, &appData);
        const double requestMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - requestStart).count();
        std::printf("%s %u%s: then one client request for app 7, onRequest %.1f ms, %u sent\n", kind.c_str(), n,
                    zip ? " zipped" : "", requestMs, session.sent);
    }
    mod->onLeave(kSid);
    releaseModule(kSid);
    return 0;
}
