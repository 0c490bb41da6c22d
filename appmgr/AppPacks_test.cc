// Applying an app-list notice's packs: each app's last listed pack, once,
// leaves the registry as applying every listing in turn would, for notices
// no scenario could list them all of.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "appmgr/SAppMgr.h"
#include "appmgr/test_registry.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"

namespace {

using namespace protocol::session;
using namespace appmgr_test;
namespace pl = vessaplugin::appMgr;

// The registry as applying every listing in turn leaves it: per app, its
// proxies and SDK version.
struct Applied {
    std::set<uint64_t> proxies;
    uint32_t sdkVersion = 0;
};

void applyEveryListing(std::map<uint32_t, Applied>& model, const pl::PluginAppPackMap& packs,
                       const pl::PluginSid2AppsMap& sidApps, const std::vector<uint32_t>& appIds) {
    const auto apply = [&](const std::vector<uint32_t>& ids) {
        for (const uint32_t id : ids) {
            const auto pack = packs.apps.find(id);
            if (pack == packs.apps.end()) continue;
            model[pack->second.appId] = {{pack->second.proxyIds.begin(), pack->second.proxyIds.end()},
                                         pack->second.sdkVersion};
        }
    };
    apply(appIds);
    for (const auto& [sid, apps] : sidApps.sidApps) apply(apps.appIds);
}

std::string modelUplink(const std::map<uint32_t, Applied>& model, uint32_t appId) {
    const auto app = model.find(appId);
    if (app == model.end()) return "none";
    std::string out = app->second.sdkVersion == 3 ? "V3" : "V2";
    for (const uint64_t proxy : app->second.proxies) appendId(out, proxy);
    return out;
}

TEST(PackApplicationTest, EachAppKeepsThePackItsLastListingReached) {
    std::mt19937 random(42);
    const auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    for (int trial = 0; trial < 200; ++trial) {
        standin::Session session(1234);
        StandinLink link(session);
        SAppMgr mgr(link.link);
        std::map<uint32_t, Applied> model;
        for (int notice = 0; notice < 4; ++notice) {
            // Packs keyed 0..7, now and then for another app than their
            // key, in some notices every one of them; ids listed in runs,
            // again under several sids.
            const bool anyApp = below(4) == 0;
            pl::PluginAppPackMap packs;
            for (uint32_t n = below(6); n > 0; --n) {
                pl::PluginAppPack& pack = packs.apps[below(8)];
                pack.appId = anyApp || below(4) == 0 ? 100 + below(8) : 0;
                for (uint32_t p = below(4); p > 0; --p) pack.proxyIds.push_back(below(6));
                pack.sdkVersion = static_cast<uint16_t>(below(3) == 0 ? 3 : 2);
            }
            for (auto& [key, pack] : packs.apps) {
                pack.appId = pack.appId == 0 ? key : pack.appId - 100;
            }
            // Runs of one id, now and then long ones.
            const auto someIds = [&] {
                std::vector<uint32_t> ids;
                for (uint32_t n = below(6); n > 0; --n) ids.insert(ids.end(), below(5) == 0 ? 1 + below(40) : 1 + below(3), below(8));
                return ids;
            };
            pl::PluginSid2AppsMap sidApps;
            for (uint32_t n = below(3); n > 0; --n) sidApps.sidApps[below(5)].appIds = someIds();
            const std::vector<uint32_t> appIds = someIds();

            const std::string packBytes = bytesOf(packs);
            const std::string sidBytes = bytesOf(sidApps);
            PAddAppReqView req;
            req.sid = 1234;
            req.appPacks = packBytes;
            req.sidApps = sidBytes;
            req.appIds = appIds;
            mgr.onAddAppReq(req);
            applyEveryListing(model, packs, sidApps, appIds);

            for (uint32_t app = 0; app < 8; ++app) {
                EXPECT_EQ(uplink(mgr, session, app), modelUplink(model, app)) << "trial " << trial << ", app " << app;
            }
        }
        if (HasFailure()) return;
    }
}

}  // namespace
