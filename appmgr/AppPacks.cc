// Applying an app-list notice's packs to the registry (SAppMgr::onAddAppReq).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "appmgr/IdMap.h"
#include "appmgr/SAppMgr.h"
#include "protocol/PluginRecords.h"

using vessaplugin::appMgr::PluginAppPack;
using vessaplugin::appMgr::PluginAppPackMap;
using vessaplugin::appMgr::PluginSid2AppsMap;

namespace {

// The end of the run of `*at` that starts at `at`. A run longer than one is
// compared sixteen ids at a time (memcmp's vector loop): a list repeating
// one id a million times costs well under an instruction per id.
const uint32_t* endOfRun(const uint32_t* at, const uint32_t* end) {
    const uint32_t id = *at++;
    if (at == end || *at != id) return at;
    constexpr std::size_t kBlock = 16;
    uint32_t block[kBlock];
    std::fill(std::begin(block), std::end(block), id);
    while (static_cast<std::size_t>(end - at) >= kBlock && std::memcmp(at, block, sizeof block) == 0) at += kBlock;
    while (at != end && *at == id) ++at;
    return at;
}

}  // namespace

// Applying a pack replaces its app's proxies and SDK version and restarts
// the sequence check of the app's last source; it logs and posts nothing,
// and what it does to one app does not depend on any other. So where
// several listings reach packs of one app (an id listed twice, or under
// several sids, or two packs naming the same app), the pack applied last
// decides what stays, and applying only that one, once, leaves the registry
// exactly as applying every listing in turn would.
//
// The listings are walked once, in the order the packs would be applied,
// and each pack remembers the last listing that reached it; then each app
// gets the pack its last listing reached. Every step costs O(1) whatever
// the order or repetition of the ids: a run of one id is skipped sixteen
// ids at a time, any other listing finds its pack as the one after the
// pack the listing before reached or by one lookup in a hash table of the
// packs' keys, and the pack that wins for an app is kept in a hash table
// of apps. (A search among the packs cost each listing the log
// of their number: a million listings naming two of 4,096 packs in turn,
// 31 KB zipped, took 213 M instructions.) So a million listings of one app
// are a million comparisons, and one pack of 65,536 proxies listed 65,536
// times is applied once, not 65,536 times.
//
// The usual notice accepts one app per pack, keyed by its own id, in the
// packs' order: each pack is then its app's only one, reached by the ids
// accepted whatever the sids list, and is applied to the entry its id was
// accepted into, without a lookup (an app of a 1,000-app list: 190
// instructions to apply, now 103).
void SAppMgr::applyAppPacks(PluginAppPackMap& appPacks, const PluginSid2AppsMap& sidApps,
                            const std::vector<uint32_t>& appIds, std::vector<Accepted>& accepted) {
    if (appPacks.apps.empty()) return;
    if (appIds.size() == appPacks.apps.size()) {
        // Each accepted id finds its pack here, while they are the usual.
        const auto usual = [&] {
            std::size_t i = 0;
            for (auto& [key, pack] : appPacks.apps) {
                if (key != appIds[i] || pack.appId != key) return false;
                accepted[i++].pack = &pack;
            }
            return true;
        };
        if (usual()) {
            for (const Accepted& app : accepted) applyAppPack(*app.entry, *app.pack);
            return;
        }
    }
    struct Pack {
        uint32_t key;               // its key in appPacks
        PluginAppPack* pack;        // it applies to pack->appId
        uint64_t lastListing;       // the number of the last listing that reached it, 0: none did
    };
    std::vector<Pack> packs;  // ascending key, as the map holds them
    packs.reserve(appPacks.apps.size());
    bool keyedByOwnId = true;
    for (auto& [key, pack] : appPacks.apps) {
        packs.push_back({key, &pack, 0});
        keyedByOwnId = keyedByOwnId && pack.appId == key;
    }
    // Key in appPacks -> index in packs, made at the first listing that
    // does not name the pack after the one the listing before reached (the
    // usual list names its apps in the packs' order, and needs no table).
    // Kept at most a quarter full: a lookup then probes about one slot,
    // whichever keys this process's hash happens to crowd (at half full, two
    // ids looked up in turn a million times cost 42 to 62 M instructions
    // from one process to the next).
    IdMap<uint32_t, uint32_t> packOfKey;
    const auto indexOf = [&](uint32_t key) {
        if (packOfKey.empty()) {
            packOfKey.reserve(2 * packs.size());
            for (uint32_t i = 0; i < packs.size(); ++i) packOfKey[packs[i].key] = i;
        }
        return packOfKey.lookup(key);
    };

    // Listings are numbered by runs: a repeated id changes nothing.
    uint64_t listing = 0;
    uint32_t previous = 0;  // the last id listed, once listing != 0
    std::size_t reached = SIZE_MAX;  // the pack a listing reached last; SIZE_MAX: none yet
    const auto list = [&](const std::vector<uint32_t>& ids) {
        const uint32_t* at = ids.data();
        const uint32_t* const end = at + ids.size();
        if (at == end) return;
        // A list that starts with the id the one before ended with goes on
        // with its run; within a list each run ends where another id starts.
        if (listing != 0 && *at == previous) at = endOfRun(at, end);
        while (at != end) {
            const uint32_t id = *at;
            at = endOfRun(at, end);
            ++listing;
            if (reached + 1 < packs.size() && packs[reached + 1].key == id) {
                ++reached;
            } else if (const uint32_t* const index = indexOf(id)) {
                reached = *index;
            } else {
                continue;
            }
            packs[reached].lastListing = listing;
        }
        previous = end[-1];
    };
    list(appIds);
    // Packs listed under a sid are applied whoever owns the app.
    for (const auto& [sid, apps] : sidApps.sidApps) list(apps.appIds);

    if (keyedByOwnId) {
        // One pack per app: each one reached is its app's last.
        for (const Pack& p : packs) {
            if (p.lastListing != 0) applyAppPack(m_apps[p.pack->appId], *p.pack);
        }
        return;
    }
    // Per app, the pack reached last goes; the others are passed over.
    IdMap<uint32_t, uint32_t> lastOfApp;  // app -> index of the pack reached last
    for (uint32_t i = 0; i < packs.size(); ++i) {
        if (packs[i].lastListing == 0) continue;
        const auto [last, fresh] = lastOfApp.tryEmplace(packs[i].pack->appId);
        if (fresh || packs[*last].lastListing < packs[i].lastListing) *last = i;
    }
    for (uint32_t i = 0; i < packs.size(); ++i) {
        if (packs[i].lastListing != 0 && *lastOfApp.find(packs[i].pack->appId) == i) applyAppPack(m_apps[packs[i].pack->appId], *packs[i].pack);
    }
}

// Each pack is applied once at most: its proxy list moves into the registry.
void SAppMgr::applyAppPack(App& app, PluginAppPack& pack) {
    app.proxies.assign(std::move(pack.proxyIds));
    app.sdkVersion = pack.sdkVersion;
    app.set(App::kProxies);
    app.set(App::kSdkVersion);
    // The app's last source starts afresh in the sequence check.
    if (app.has(App::kSrcId)) m_srcSeqNums[app.srcId] = 0;
}
