#include "perf/Shapes.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <unordered_map>

#include "marshal/BlockBuffer.h"
#include "marshal/Errors.h"
#include "marshal/Fields.h"
#include "protocol/AppPayloads.h"
#include "protocol/PluginRecords.h"
#include "perf/ShapeParts.h"
#include "protocol/SessionRecords.h"
#include "tools/sapp-host/records/Zlib.h"

namespace perf {
namespace {

using namespace parts;

// The sizes of the outside audit's inputs: version items and listings that
// each fill the host's default unzip limit (4 MiB).
constexpr uint32_t kAuditVersions = 209000;
constexpr uint32_t kAuditListings = 1048570;
// The packs of the shapes that spread listings over many packs.
constexpr uint32_t kManyPacks = 4096;

struct Shape {
    ShapeInfo info;
    std::function<Traffic(uint32_t n, bool zip)> build;
};

const std::vector<Shape>& table() {
    static const std::vector<Shape> shapes = {
        {{"add-ids", "PAddAppReq with N new app ids (the registry keeps them)"},
         [](uint32_t n, bool zip) {
             ps::PAddAppReq req;
             for (uint32_t i = 0; i < n; ++i) req.appIds.push_back(i + 1);
             return Traffic{{}, {addAppReq(req, {}, {}, n, zip)}};
         }},
        {{"add-idset", "PAddAppReq with N ids in idSet"},
         [](uint32_t n, bool zip) {
             ps::PAddAppReq req;
             for (uint32_t i = 0; i < n; ++i) req.idSet.insert(i + 1);
             return Traffic{{}, {addAppReq(req, {}, {}, n, zip)}};
         }},
        {{"add-packs", "PAddAppReq with N app ids and a pack for each"},
         [](uint32_t n, bool zip) {
             ps::PAddAppReq req;
             pl::PluginAppPackMap packs;
             for (uint32_t i = 0; i < n; ++i) {
                 req.appIds.push_back(i + 1);
                 packs.apps[i + 1] = pack(i + 1, {});
             }
             return Traffic{{}, {addAppReq(req, packs, {}, n, zip)}};
         }},
        {{"add-sidapps", "PAddAppReq whose sidApps lists N app ids under one sid (zipped: one id N times)"},
         [](uint32_t n, bool zip) {
             // Zipped, the list repeats one id, as a hostile stream would: it
             // compresses about 1000 to 1 (16.7 M ids in 65 KB). No id has a pack.
             pl::PluginSid2AppsMap sidApps;
             std::vector<uint32_t>& ids = sidApps.sidApps[kSid].appIds;
             for (uint32_t i = 0; i < n; ++i) ids.push_back(zip ? kApp : i + 1);
             return Traffic{{}, {addAppReq({}, {}, sidApps, n, zip)}};
         }},
        {{"add-quadratic", "PAddAppReq: one pack of N different proxies, its app listed N times in sidApps"},
         [](uint32_t n, bool zip) {
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, descending(n));
             pl::PluginSid2AppsMap sidApps;
             sidApps.sidApps[kSid].appIds.assign(n, kApp);
             return Traffic{{}, {addAppReq({}, packs, sidApps, n, zip)}};
         }},
        {{"add-repeated-proxy", "PAddAppReq: one pack listing one proxy N times, its app listed N times in sidApps"},
         [](uint32_t n, bool zip) {
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, std::vector<uint64_t>(n, 9));
             pl::PluginSid2AppsMap sidApps;
             sidApps.sidApps[kSid].appIds.assign(n, kApp);
             return Traffic{{}, {addAppReq({}, packs, sidApps, n, zip)}};
         }},
        {{"add-listed-ids", "PAddAppReq: appIds lists one app N times, its pack has N proxies"},
         [](uint32_t n, bool zip) {
             ps::PAddAppReq req;
             req.appIds.assign(n, kApp);
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, descending(n));
             return Traffic{{}, {addAppReq(req, packs, {}, n, zip)}};
         }},
        {{"add-versions", "PAddAppReq: one pack for app 7 with N empty version items"},
         [](uint32_t n, bool zip) {
             // Zipped at N = 209,000: the first input of the outside audit
             // (4,131 bytes, 4 MiB inflated; each 20-byte item becomes a
             // PluginVerItem of the event).
             ps::PAddAppReq req;
             req.appIds.push_back(kApp);
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, {1});
             packs.apps[kApp].versions.resize(n);
             return Traffic{{}, {addAppReq(req, packs, {}, n, zip)}};
         }},
        {{"add-listed-pack", "PAddAppReq: sidApps lists app 7 N times under one sid, its pack one proxy"},
         [](uint32_t n, bool zip) {
             // Zipped at N = 1,048,570: the second audit input (4,195 bytes).
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, {1});
             pl::PluginSid2AppsMap sidApps;
             sidApps.sidApps[kSid].appIds.assign(n, kApp);
             return Traffic{{}, {addAppReq({}, packs, sidApps, n, zip)}};
         }},
        {{"add-audit", "PAddAppReq: N new app ids beside the two zipped lists above at their audit sizes"},
         [](uint32_t n, bool) {
             // At N = 13,000: the third audit input, one 60,231-byte packet
             // (always zipped: unzipped, its lists would be 8 MiB).
             ps::PAddAppReq req;
             req.appIds = newIds(kApp + 1, n);
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, {1});
             packs.apps[kApp].versions.resize(kAuditVersions);
             pl::PluginSid2AppsMap sidApps;
             sidApps.sidApps[kSid].appIds.assign(kAuditListings, kApp);
             return Traffic{{}, {addAppReq(req, packs, sidApps, kAuditListings, true)}};
         }},
        {{"add-alternating-listings", "PAddAppReq: 4,096 packs, sidApps listing N times apps 1 and 4,096 in turn"},
         [](uint32_t n, bool zip) {
             // The second outside audit's shape: every listing names another
             // app than the one before, so none is a repeat to skip, and each
             // has to find its pack among thousands.
             pl::PluginAppPackMap packs;
             for (uint32_t id = 1; id <= kManyPacks; ++id) packs.apps[id] = pack(id, {id});
             return Traffic{{}, {addAppReq({}, packs, inTurn(1, kManyPacks, n), n, zip)}};
         }},
        {{"add-fails-late", "PAddAppReq: app 7's pack with N empty version items, then a sidApps cut short"},
         [](uint32_t n, bool zip) {
             // The outside audit's memory shape: the packs read whole, then
             // the second list fails; no event is posted, so whatever the
             // packs built is the call's transient memory.
             ps::PAddAppReq req;
             req.appIds.push_back(kApp);
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, {1});
             packs.apps[kApp].versions.resize(n);
             // One sid whose list claims an id it does not carry.
             pakt::BlockBuffer buffer;
             pakt::Pack cut(buffer);
             cut.push_uint32(1).push_uint32(kSid).push_uint32(1);
             const std::string sidApps = cut.str();
             req.sid = kSid;
             req.appPacks = zipIf(zip, packToString(packs, room(n)), req.appPacksZipped, req.appPacksLen);
             req.sidApps = zipIf(zip, sidApps, req.sidAppsZipped, req.sidAppsLen);
             return Traffic{{}, {{ps::URI_ADD_APP_REQ, packToString(req, room(n))}}};
         }},
        {{"add-versions-cut", "PAddAppReq: app 7's pack claims N + 1 empty version items and carries N"},
         [](uint32_t n, bool zip) {
             // Fails at the last item of the first list.
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, {1});
             packs.apps[kApp].versions.resize(n);
             std::string bytes = packToString(packs, room(n));
             // The count of version items follows the map's count and key and
             // the pack's appId, three strings and num1 and shorts: raise it by one
             // and drop the tail after the items (num2, byte1, proxies,
             // sdkVersion, str4) and the last item's bytes.
             const std::size_t countAt = 4 + 4 + 4 + 3 * 2 + 4 + 3 * 2;
             const uint32_t claimed = n + 1;
             std::memcpy(bytes.data() + countAt, &claimed, sizeof claimed);
             bytes.resize(countAt + 4 + std::size_t{n} * pakt::minWireBytes<pl::PluginVerItem>());
             ps::PAddAppReq req;
             req.appIds.push_back(kApp);
             req.sid = kSid;
             req.appPacks = zipIf(zip, bytes, req.appPacksZipped, req.appPacksLen);
             return Traffic{{}, {{ps::URI_ADD_APP_REQ, packToString(req, room(n))}}};
         }},
        {{"add-combined", "PAddAppReq: N new app ids, 4,096 packs of 64 proxies out of order, 1 M alternating listings"},
         [](uint32_t n, bool) {
             // Packs, proxies, listings and ids at once, in one packet of
             // 64 KB (always zipped: unzipped, its lists would be 6 MiB).
             ps::PAddAppReq req;
             req.appIds = newIds(kManyPacks + 1, n);
             pl::PluginAppPackMap packs;
             for (uint32_t id = 1; id <= kManyPacks; ++id) packs.apps[id] = pack(id, descending(64));
             return Traffic{{}, {addAppReq(req, packs, inTurn(1, kManyPacks, kAuditListings), kAuditListings, true)}};
         }},
        {{"add-costliest", "PAddAppReq: N new app ids beside the costliest lists: version items, listings in turn"},
         [](uint32_t n, bool) {
             // The list of each kind that costs the module most per
             // inflated byte, each at the host's unzip limit: app 7's pack
             // with 4 MiB of version items (each a record of the event), and
             // 4 MiB of listings naming apps 7 and 8 in turn (each a lookup
             // of its pack). Always zipped.
             ps::PAddAppReq req;
             req.appIds = newIds(kApp + 2, n);
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, {1});
             packs.apps[kApp].versions.resize(kAuditVersions);
             packs.apps[kApp + 1] = pack(kApp + 1, {2});
             const pl::PluginSid2AppsMap sidApps = inTurn(kApp, kApp + 1, kAuditListings);
             return Traffic{{}, {addAppReq(req, packs, sidApps, kAuditListings, true)}};
         }},
        {{"add-pack-proxies", "PAddAppReq: app 7 listed once, its pack N proxies in descending order"},
         [](uint32_t n, bool zip) {
             ps::PAddAppReq req;
             req.appIds.push_back(kApp);
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, descending(n));
             return Traffic{{}, {addAppReq(req, packs, {}, n, zip)}};
         }},
        {{"add-alternating-proxies", "PAddAppReq: app 7 listed once, its pack N proxies alternating between two ids"},
         [](uint32_t n, bool zip) {
             ps::PAddAppReq req;
             req.appIds.push_back(kApp);
             std::vector<uint64_t> proxies(n);
             for (uint32_t i = 0; i < n; ++i) proxies[i] = 1 + i % 2;
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, proxies);
             return Traffic{{}, {addAppReq(req, packs, {}, n, zip)}};
         }},
        {{"add-pack-entries", "PAddAppReq: N packs without proxies, 512 keys over and over, none listed"},
         [](uint32_t n, bool zip) {
             return Traffic{{}, {addAppReqBytes(mapBytes(cycled(n, 512), packToString(pl::PluginAppPack{}, 64)), "", n, zip)}};
         }},
        {{"add-duplicate-pack", "PAddAppReq: app 7's pack, then another under key 7 with N empty version items"},
         [](uint32_t n, bool zip) {
             // The first entry of a key wins: the second is read and dropped.
             pl::PluginAppPack second = pack(kApp, {2});
             second.versions.resize(n);
             pakt::BlockBuffer buffer;
             buffer.resize(room(n));
             buffer.resize(0);
             pakt::Pack packs(buffer);
             packs.push_uint32(2).push_uint32(kApp);
             pakt::packFields(pack(kApp, {1}), packs);
             packs.push_uint32(kApp);
             pakt::packFields(second, packs);
             ps::PAddAppReq req;
             req.appIds.push_back(kApp);
             req.sid = kSid;
             req.appPacks = zipIf(zip, packs.str(), req.appPacksZipped, req.appPacksLen);
             return Traffic{{}, {{ps::URI_ADD_APP_REQ, packToString(req, room(n))}}};
         }},
        {{"add-sid-entries", "PAddAppReq: sidApps of N entries listing no app, 2,048 sids over and over"},
         [](uint32_t n, bool zip) {
             return Traffic{{}, {addAppReqBytes("", mapBytes(cycled(n, 2048), kNoEntries) + kNoEntries, n, zip)}};
         }},
        {{"add-sid-attrs", "PAddAppReq: sidAttrs of N empty attributes, 2,048 sids over and over"},
         [](uint32_t n, bool zip) {
             return Traffic{{}, {addAppReqBytes("", kNoEntries + mapBytes(cycled(n, 2048), packToString(pl::PluginSidAttr{}, 64)),
                                                n, zip)}};
         }},
        {{"add-sids", "PAddAppReq: N services in sidApps each list one app, its pack has N proxies"},
         [](uint32_t n, bool zip) {
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, descending(n));
             pl::PluginSid2AppsMap sidApps;
             for (uint32_t sid = 1; sid <= n; ++sid) sidApps.sidApps[sid].appIds.push_back(kApp);
             return Traffic{{}, {addAppReq({}, packs, sidApps, n, zip)}};
         }},
        {{"add-colliding", "PAddAppReq: N app ids a hash table would put in one bucket, each with a pack"},
         [](uint32_t n, bool zip) {
             ps::PAddAppReq req;
             pl::PluginAppPackMap packs;
             for (const uint32_t id : colliding(n, true)) {
                 req.appIds.push_back(id);
                 packs.apps[id] = pack(id, {1});
             }
             return Traffic{{}, {addAppReq(req, packs, {}, n, zip)}};
         }},
        {{"del-ids", "PDelAppReq with N app ids"},
         [](uint32_t n, bool) {
             std::vector<uint32_t> ids;
             for (uint32_t i = 0; i < n; ++i) ids.push_back(i + 1);
             return Traffic{{}, {delAppReq(ids, {}, n)}};
         }},
        {{"del-listed", "PDelAppReq listing one added app N times, and N services listing it in sidApps"},
         [](uint32_t n, bool zip) {
             ps::PAddAppReq add;
             add.appIds.push_back(kApp);
             pl::PluginAppPackMap packs;
             packs.apps[kApp] = pack(kApp, {1, 2});
             pl::PluginSid2AppsMap sidApps;
             for (uint32_t sid = 1; sid <= n; ++sid) sidApps.sidApps[sid].appIds.push_back(kApp);
             return Traffic{{addAppReq(add, packs, {}, 1, zip)}, {delAppReq(std::vector<uint32_t>(n, kApp), sidApps, n)}};
         }},
        {{"del-sid-entries", "PDelAppReq: sidApps of N entries listing no app, 2,048 sids over and over"},
         [](uint32_t n, bool zip) {
             return Traffic{{}, {delAppReqBytes({}, mapBytes(cycled(n, 2048), kNoEntries) + kNoEntries, n, zip)}};
         }},
        {{"del-colliding", "PDelAppReq of N added app ids a hash table would put in one bucket"},
         [](uint32_t n, bool zip) {
             ps::PAddAppReq add;
             add.appIds = colliding(n, true);
             return Traffic{{addAppReq(add, {}, {}, n, zip)}, {delAppReq(add.appIds, {}, n)}};
         }},
        {{"v2-versions", "PUserMsg3, SDK V2 app added with N version items"},
         [](uint32_t n, bool) { return Traffic{{}, {addAppV2(kApp, 9, 1, n)}}; }},
        {{"v2-idlist", "PUserMsg3 with N ids in idList1 (decoded, then passed over)"},
         [](uint32_t n, bool) {
             ps::PUserMsg3 msg;
             msg.idList1.assign(n, 9);
             msg.msgType = 7;
             return Traffic{{}, {{ps::URI_USER_MSG3, packToString(msg, room(n))}}};
         }},
        {{"v2-adds", "N packets, each an SDK V2 add of one app through one more proxy, in descending order"},
         [](uint32_t n, bool) {
             Traffic traffic;
             for (uint32_t i = 0; i < n; ++i) traffic.measured.push_back(addAppV2(kApp, n - i, 1, 0));
             return traffic;
         }},
        {{"v3-proxies", "PAppMsgToClient, SDK V3 app added with N proxies"},
         [](uint32_t n, bool) {
             ps::AppInfoPack3 info;
             info.appId = kApp;
             info.proxyIds = descending(n);
             return Traffic{{}, {appMsgV3(ps::kAppMsgAddApp, kApp, 1, 1, packToString(info, room(n)))}};
         }},
        {{"v3-update", "PAppMsgToClient, SDK V3 proxy update listing one proxy N times"},
         [](uint32_t n, bool) {
             ps::AppInfoPack3 info;
             info.appId = kApp;
             ps::PAppSdkInfo update;
             update.proxyIds.assign(n, 9);
             return Traffic{{appMsgV3(ps::kAppMsgAddApp, kApp, 1, 1, packToString(info, 4096))},
                            {appMsgV3(ps::kAppMsgUpdateProxies, kApp, 1, 2, packToString(update, room(n)))}};
         }},
        {{"v3-sources", "N packets of SDK V3 app data, each from a new source id a hash table would put in one bucket"},
         [](uint32_t n, bool) {
             Traffic traffic;
             for (const uint32_t source : colliding(n, false)) {
                 traffic.measured.push_back(appMsgV3(ps::kAppMsgAppData, kApp, source, 1, "d"));
             }
             return traffic;
         }},
        {{"v3-data", "PAppMsgToClient, SDK V3 app data of N bytes"},
         [](uint32_t n, bool) { return Traffic{{}, {appMsgV3(ps::kAppMsgAppData, kApp, 1, 1, std::string(n, 'd'))}}; }},
        {{"announce", "announce-apps notice with a body of N bytes"},
         [](uint32_t n, bool) { return Traffic{{}, {{ps::URI_ADD_ANNOUNCE_APPS, std::string(n, 'a')}}}; }},
    };
    return shapes;
}

}  // namespace

const std::vector<ShapeInfo>& shapes() {
    static const std::vector<ShapeInfo> infos = [] {
        std::vector<ShapeInfo> out;
        for (const Shape& shape : table()) out.push_back(shape.info);
        return out;
    }();
    return infos;
}

Inflation inflation(const Delivery& delivery) {
    Inflation out;
    const auto add = [&out](bool zipped, uint32_t length) {
        if (!zipped) return;
        out.total += length;
        out.largest = std::max<std::size_t>(out.largest, length);
    };
    try {
        pakt::Unpack up(delivery.body.data(), delivery.body.size());
        if (delivery.uri == ps::URI_ADD_APP_REQ) {
            ps::PAddAppReq req;
            req.unmarshal(up);
            add(req.appPacksZipped != 0, req.appPacksLen);
            add(req.sidAppsZipped != 0, req.sidAppsLen);
        } else if (delivery.uri == ps::URI_DEL_APP_REQ) {
            ps::PDelAppReq req;
            req.unmarshal(up);
            add(req.sidAppsZipped != 0, req.sidAppsLen);
        }
    } catch (const pakt::UnpackError&) {
    }
    return out;
}

std::size_t programBytes(const Traffic& traffic) {
    std::size_t bytes = 2;
    for (const auto* list : {&traffic.setup, &traffic.measured}) {
        for (const Delivery& d : *list) bytes += 6 + d.body.size();
    }
    return bytes;
}

const std::vector<Maximal>& maximal() {
    // Found by trying: the largest N that passes both limits (checked by
    // fuzz_make_corpus, which writes each as a seed).
    static const std::vector<Maximal> sizes = {
        {"add-ids", 16372, false},
        {"add-idset", 16372, false},
        {"add-packs", 1455, false},
        {"add-packs", 8300, true},
        {"add-sidapps", 16368, false},
        {"add-sidapps", 1048572, true},
        {"add-quadratic", 5450, false},
        {"add-quadratic", 42000, true},
        {"add-repeated-proxy", 5450, false},
        {"add-repeated-proxy", 524282, true},
        {"add-listed-ids", 5450, false},
        {"add-versions", 3270, false},
        {"add-versions", 209712, true},
        {"add-listed-pack", 16355, false},
        {"add-listed-pack", 1048572, true},
        {"add-audit", 13000, true},
        {"add-alternating-listings", 1048572, true},
        {"add-fails-late", 209712, true},
        {"add-versions-cut", 209712, true},
        {"add-combined", 4400, true},
        {"add-costliest", 13700, true},
        {"add-pack-proxies", 8180, false},
        {"add-pack-proxies", 40000, true},
        {"add-alternating-proxies", 8180, false},
        {"add-alternating-proxies", 524282, true},
        {"add-pack-entries", 1597, false},
        {"add-pack-entries", 102300, true},
        {"add-duplicate-pack", 3269, false},
        {"add-duplicate-pack", 209710, true},
        {"add-sid-entries", 8185, false},
        {"add-sid-entries", 524287, true},
        {"add-sid-attrs", 6548, false},
        {"add-sid-attrs", 419429, true},
        {"add-sids", 3271, false},
        {"add-sids", 19000, true},
        {"add-colliding", 1235, false},
        {"del-ids", 16374, false},
        {"del-listed", 4080, false},
        {"del-sid-entries", 8185, false},
        {"del-sid-entries", 524287, true},
        {"del-colliding", 8180, false},
        {"v2-versions", 4091, false},
        {"v2-idlist", 16370, false},
        {"v2-adds", 885, false},
        {"v3-proxies", 8180, false},
        {"v3-update", 8160, false},
        {"v3-sources", 1191, false},
        {"v3-data", 65480, false},
        {"announce", 65528, false},
    };
    return sizes;
}

Traffic build(const std::string& shape, uint32_t n, bool zip) {
    for (const Shape& s : table()) {
        if (shape == s.info.name) return s.build(n, zip);
    }
    throw std::invalid_argument("unknown shape " + shape);
}

}  // namespace perf
