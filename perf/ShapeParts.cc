#include "perf/ShapeParts.h"

#include <unordered_map>

#include "protocol/AppPayloads.h"
#include "tools/sapp-host/records/Zlib.h"

namespace perf::parts {

std::size_t room(uint32_t n) { return std::size_t{n} * 48 + 4096; }

std::string zipIf(bool zip, const std::string& plain, uint8_t& zipped, uint32_t& length) {
    if (!zip) return plain;
    zipped = 1;
    length = static_cast<uint32_t>(plain.size());
    return sapphost::deflateBytes(plain);
}

Delivery addAppReq(ps::PAddAppReq req, const pl::PluginAppPackMap& packs, const pl::PluginSid2AppsMap& sidApps,
                   uint32_t n, bool zip) {
    req.sid = kSid;
    if (!packs.apps.empty()) req.appPacks = zipIf(zip, packToString(packs, room(n)), req.appPacksZipped, req.appPacksLen);
    if (!sidApps.sidApps.empty()) {
        req.sidApps = zipIf(zip, packToString(sidApps, room(n)), req.sidAppsZipped, req.sidAppsLen);
    }
    return {ps::URI_ADD_APP_REQ, packToString(req, room(n))};
}

Delivery delAppReqBytes(const std::vector<uint32_t>& appIds, const std::string& sidApps, uint32_t n, bool zip) {
    ps::PDelAppReq req;
    req.sid = kSid;
    req.appIds = appIds;
    req.sidApps = zipIf(zip, sidApps, req.sidAppsZipped, req.sidAppsLen);
    return {ps::URI_DEL_APP_REQ, packToString(req, room(n))};
}

Delivery delAppReq(const std::vector<uint32_t>& appIds, const pl::PluginSid2AppsMap& sidApps, uint32_t n) {
    return delAppReqBytes(appIds, packToString(sidApps, room(n)), n, false);
}

// A PAddAppReq whose zipped or plain lists are given as bytes.
Delivery addAppReqBytes(const std::string& appPacks, const std::string& sidApps, uint32_t n, bool zip) {
    ps::PAddAppReq req;
    req.sid = kSid;
    if (!appPacks.empty()) req.appPacks = zipIf(zip, appPacks, req.appPacksZipped, req.appPacksLen);
    if (!sidApps.empty()) req.sidApps = zipIf(zip, sidApps, req.sidAppsZipped, req.sidAppsLen);
    return {ps::URI_ADD_APP_REQ, packToString(req, room(n))};
}

// N map keys that no insertion hint follows and that deflate still packs
// tightly: `period` distinct keys (a power of two), each round in
// bit-reversed order (0, P/2, P/4, 3P/4, ...: every key far from the one
// before, so each is placed by a search), the same round again and again
// (each later round all duplicates). A round must fit deflate's 32 KiB
// window for the rounds after it to compress to almost nothing; the
// distinct keys a packet of 64 KB can carry at all are about 40,000 (1.5
// zipped bytes each), so the worst such packet is mostly repeats.
std::vector<uint32_t> cycled(uint32_t n, uint32_t period) {
    unsigned bits = 0;
    while ((1u << bits) < period) ++bits;
    std::vector<uint32_t> keys;
    keys.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t reversed = 0;
        for (unsigned b = 0; b < bits; ++b) reversed |= ((i >> b) & 1u) << (bits - 1 - b);
        keys.push_back(1 + reversed);
    }
    return keys;
}

// The bytes of a map whose entries come in the order of `keys` (packing a
// std::map would write them ascending), each holding `value`.
std::string mapBytes(const std::vector<uint32_t>& keys, const std::string& value) {
    pakt::BlockBuffer buffer;
    buffer.resize(keys.size() * (4 + value.size()) + 64);
    buffer.resize(0);
    pakt::Pack pack(buffer);
    pack.push_uint32(static_cast<uint32_t>(keys.size()));
    for (const uint32_t key : keys) {
        pack.push_uint32(key);
        pack.push(value.data(), value.size());
    }
    return pack.str();
}

const std::string kNoEntries(4, '\0');

pl::PluginAppPack pack(uint32_t appId, std::vector<uint64_t> proxies) {
    pl::PluginAppPack p;
    p.appId = appId;
    p.sdkVersion = 3;
    p.proxyIds = std::move(proxies);
    return p;
}

// n proxy ids, all different, in descending order (the worst order for a
// container kept sorted by insertion).
std::vector<uint64_t> descending(uint32_t n) {
    std::vector<uint64_t> ids;
    ids.reserve(n);
    for (uint32_t i = n; i > 0; --i) ids.push_back(i);
    return ids;
}

// n ids that share one bucket of a standard hash table holding n entries:
// multiples of its bucket count (the standard hash of an integer is the
// integer itself). A registry kept in such a table would compare each new
// id with all the earlier ones. `reserved`: the table is sized for the n
// entries at once (as for the ids of one notice), not grown one by one.
std::vector<uint32_t> colliding(uint32_t n, bool reserved) {
    std::unordered_map<uint32_t, char> probe;
    if (reserved) probe.reserve(n);
    for (uint32_t i = 0; i < n; ++i) probe.emplace(i, 0);
    const auto buckets = static_cast<uint64_t>(probe.bucket_count());
    std::vector<uint32_t> ids;
    ids.reserve(n);
    for (uint64_t i = 1; i <= n; ++i) ids.push_back(static_cast<uint32_t>(i * buckets));
    return ids;
}

// sidApps listing apps `a` and `b` in turn under kSid, n listings: none
// repeats the one before.
pl::PluginSid2AppsMap inTurn(uint32_t a, uint32_t b, uint32_t n) {
    pl::PluginSid2AppsMap sidApps;
    std::vector<uint32_t>& ids = sidApps.sidApps[kSid].appIds;
    ids.reserve(n);
    for (uint32_t i = 0; i < n; ++i) ids.push_back(i % 2 == 0 ? a : b);
    return sidApps;
}

// n app ids the registry has not seen, from `first` on.
std::vector<uint32_t> newIds(uint32_t first, uint32_t n) {
    std::vector<uint32_t> ids(n);
    for (uint32_t i = 0; i < n; ++i) ids[i] = first + i;
    return ids;
}

Delivery appMsgV3(uint16_t type, uint32_t appId, uint64_t srcId, uint32_t seqNum, std::string data) {
    ps::PAppMsgToClient msg;
    msg.appId = appId;
    msg.srcId = srcId;
    msg.seqNum = seqNum;
    msg.appMsgType = type;
    msg.data = std::move(data);
    return {ps::URI_APP_MSG_TO_CLIENT, packToString(msg, msg.data.size() + 4096)};
}

Delivery addAppV2(uint32_t appId, uint64_t proxyId, uint32_t seqNum, uint32_t versions) {
    ps::PUserMsg3 msg;
    msg.msgType = 1;
    msg.proxyId = proxyId;
    ps::AppHeaderV2 header{seqNum, ps::kAppMsgAddApp, appId};
    ps::AppInfoPack info;
    info.appId = appId;
    info.proxyId = proxyId;
    info.versions.resize(versions);
    msg.data = packToString(header, 64) + packToString(info, room(versions));
    return {ps::URI_USER_MSG3, packToString(msg, msg.data.size() + 4096)};
}

}  // namespace perf::parts
