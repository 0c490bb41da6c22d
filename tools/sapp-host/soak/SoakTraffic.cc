#include "tools/sapp-host/soak/SoakTraffic.h"

#include <algorithm>
#include <utility>

#include "marshal/BlockBuffer.h"
#include "marshal/Fields.h"
#include "protocol/PacketVisitor.h"
#include "standin/pktcore/StandinSession.h"
#include "tools/sapp-host/records/FieldJson.h"
#include "tools/sapp-host/records/Zlib.h"

namespace sapphost::soak {

namespace ps = protocol::session;
namespace pl = vessaplugin::appMgr;

namespace {

constexpr uint32_t kFirstApp = 1001;
constexpr uint32_t kApps = 40;
constexpr uint32_t kProxies = 12;
constexpr uint32_t kSources = 6;

// Row P's packet carrying `record`.
template <class P>
SoakPacket packetOf(const typename P::Record& record, std::string what) {
    return {P::uri, 200, packToString(record), std::move(what)};
}

// The payload field of `record`, a record of row `row`, whose bytes are
// member `bytes`.
template <class P>
ps::PayloadField payloadAt(P row, typename P::Record& record, const std::string& bytes) {
    ps::PayloadField found;
    ps::forEachPayload(row, record, [&](const ps::PayloadField& field) {
        if (field.bytes == &bytes) found = field;
    });
    return found;
}

}  // namespace

uint32_t Traffic::anyApp() { return chance(5) ? 70000 + below(1000) : kFirstApp + below(kApps); }
uint64_t Traffic::anyProxy() { return 900 + below(kProxies); }
uint64_t Traffic::anySource() { return 100 + below(kSources); }

std::string Traffic::anyData() {
    std::string data(below(12), '\0');
    for (char& c : data) c = static_cast<char>(below(256));
    return data;
}

SoakPacket Traffic::packet(const RegistryModel& model, uint32_t sid, uint32_t roll) {
    SoakPacket p;
    if (roll < 290) {
        p = addApps(sid);
    } else if (roll < 340) {
        p = deleteApps(sid);
    } else if (roll < 640) {
        p = platformV2(model);
    } else if (roll < 970) {
        p = platformV3(model);
    } else {
        // A record cut short.
        p = chance(50) ? addApps(sid) : platformV3(model);
        p.body.resize(below(static_cast<uint32_t>(p.body.size())));
        p.what += " cut to " + std::to_string(p.body.size()) + " bytes";
        p.cutShort = true;
    }
    if (chance(1)) p.res = 500;
    return p;
}

// A sequence number for `source`: mostly the next ones, sometimes stale.
uint32_t Traffic::sequence(const RegistryModel& model, uint64_t source) {
    const uint32_t* last = model.lastSeqNum(source);
    if (!last) return 1 + below(1000);
    if (chance(15)) return *last - std::min(*last, below(3));
    return *last + 1 + below(3);
}

pl::PluginAppPack Traffic::anyPack(uint32_t app) {
    pl::PluginAppPack pack;
    pack.appId = app;
    pack.sdkVersion = static_cast<uint16_t>(chance(90) ? 2 + below(2) : 7);
    for (uint32_t n = below(3); n > 0; --n) pack.proxyIds.push_back(anyProxy());
    pack.str1 = "app";
    return pack;
}

// A payload field, zipped half of the time, sometimes past the host's
// unzip limit (the host then gives back nothing).
void Traffic::payload(const ps::PayloadField& field, const std::string& plain) {
    if (chance(50)) {
        *field.bytes = plain;
        return;
    }
    *field.zipped = 1;
    *field.bytes = deflateBytes(plain);
    *field.length = static_cast<uint32_t>(plain.size());
    if (chance(5)) *field.length = standin::kDefaultUnzipLimit + 1;
}

SoakPacket Traffic::addApps(uint32_t sid) {
    ps::PAddAppReq req;
    req.sid = sid;
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
    payload(payloadAt(ps::AddAppReqPacket{}, req, req.appPacks), packToString(packs));
    payload(payloadAt(ps::AddAppReqPacket{}, req, req.sidApps), packToString(sidApps));
    req.context = "soak";
    return packetOf<ps::AddAppReqPacket>(req, std::string(ps::AddAppReqPacket::name) + " " + numberList(req.appIds));
}

SoakPacket Traffic::deleteApps(uint32_t sid) {
    ps::PDelAppReq req;
    req.sid = sid;
    for (uint32_t n = 1 + below(3); n > 0; --n) req.appIds.push_back(anyApp());
    pl::PluginSid2AppsMap sidApps;
    sidApps.sidApps[req.sid].appIds = req.appIds;
    payload(payloadAt(ps::DelAppReqPacket{}, req, req.sidApps), packToString(sidApps));
    return packetOf<ps::DelAppReqPacket>(req, std::string(ps::DelAppReqPacket::name) + " " + numberList(req.appIds));
}

SoakPacket Traffic::platformV2(const RegistryModel& model) {
    ps::PUserMsg3 msg;
    msg.msgType = chance(98) ? 1 : 7;
    msg.proxyId = anySource();
    const uint32_t app = anyApp();
    const uint32_t seq = sequence(model, msg.proxyId);
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
    return packetOf<ps::UserMsg3Packet>(msg, what + " of app " + std::to_string(app) + " seq " + std::to_string(seq));
}

SoakPacket Traffic::platformV3(const RegistryModel& model) {
    ps::PAppMsgToClient msg;
    msg.appId = anyApp();
    msg.srcId = anySource();
    msg.seqNum = sequence(model, msg.srcId);
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
    return packetOf<ps::AppMsgToClientPacket>(
        msg, what + " of app " + std::to_string(msg.appId) + " seq " + std::to_string(msg.seqNum));
}

}  // namespace sapphost::soak
