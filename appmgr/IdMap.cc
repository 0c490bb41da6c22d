#include "appmgr/IdMap.h"

#include <chrono>
#include <exception>
#include <random>

namespace {

// splitmix64's step: spreads whatever entropy `state` holds over all bits.
uint64_t mixStep(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

IdKeys drawIdKeys() {
    uint64_t state = 0;
    try {
        std::random_device device;
        for (int i = 0; i < 4; ++i) state = (state << 32) ^ (state >> 32) ^ device();
    } catch (const std::exception&) {
        // No entropy source: the keys are still unknown to the server.
    }
    int local = 0;
    state ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    state ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&local)) << 16;
    state ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&drawIdKeys));
    IdKeys keys{};
    keys.mask = mixStep(state);
    keys.factor = mixStep(state) | 1;
    return keys;
}
