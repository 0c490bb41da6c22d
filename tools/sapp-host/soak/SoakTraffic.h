// The soak's random traffic: packets of every handled kind and client
// requests, drawn from one seed.
//
// Small pools of ids make sessions share app ids and proxies, both services
// meet on the same apps, and the live state stop growing early. Packets are
// mostly well formed, with duplicates, stale sequence numbers, unknown apps,
// payloads the host will not unzip and records cut short mixed in.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "tools/sapp-host/soak/SoakModel.h"

namespace protocol::session {
struct PayloadField;
}

namespace sapphost::soak {

inline constexpr uint32_t kExcludedApp = 90052;  // the module never relays client messages of this app

struct SoakPacket {
    uint32_t uri = 0;
    uint32_t res = 200;
    std::string body;
    std::string what;      // for failure messages: "V3 add of app 1003 seq 17"
    bool cutShort = false;  // the record itself does not decode
};

class Traffic {
public:
    explicit Traffic(uint64_t seed) : m_rng(seed) {}

    uint32_t below(uint32_t n) { return static_cast<uint32_t>(m_rng() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }

    // A packet for session `sid`; `roll` (0..999) chooses its kind.
    SoakPacket packet(const RegistryModel& model, uint32_t sid, uint32_t roll);
    // The app and data of a client request.
    uint32_t requestApp() { return chance(2) ? kExcludedApp : anyApp(); }
    std::string anyData();

private:
    uint32_t anyApp();
    uint64_t anyProxy();
    uint64_t anySource();
    uint32_t sequence(const RegistryModel& model, uint64_t source);
    vessaplugin::appMgr::PluginAppPack anyPack(uint32_t app);
    // Sets a zippable payload field of a record to `plain`, zipped or not.
    void payload(const protocol::session::PayloadField& field, const std::string& plain);

    SoakPacket addApps(uint32_t sid);
    SoakPacket deleteApps(uint32_t sid);
    SoakPacket platformV2(const RegistryModel& model);
    SoakPacket platformV3(const RegistryModel& model);

    std::mt19937_64 m_rng;
};

}  // namespace sapphost::soak
