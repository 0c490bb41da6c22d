// Constructed worst-case traffic for the module.
//
// A shape is a recipe for inbound packets whose size grows with one number
// N: a list repeated N times, N proxies, N sources, N packets. Each shape is
// built to reach one path of the module at its worst: repeated ids,
// repeated proxies, repeated services, ids that a hash table would put into
// one bucket, deletes of an app listed many times, both SDK generations.
// sapp_worst_case times one shape at one size (perf/worst-case.sh, the
// limits table of docs/robustness.md); perf/growth.sh counts the module's
// instructions at N and 8N to show that none grows faster than its input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace perf {

// One packet for the session.
struct Delivery {
    uint32_t uri = 0;
    std::string body;
};

struct Traffic {
    std::vector<Delivery> setup;     // delivered first, not measured
    std::vector<Delivery> measured;  // what the figures are about
};

struct ShapeInfo {
    const char* name;
    const char* what;
};

// Every shape, in the order `sapp_worst_case --list` prints them.
const std::vector<ShapeInfo>& shapes();

// The traffic of `shape` at size `n`; the shapes of PAddAppReq zip their
// app lists when `zip` is set. Throws std::invalid_argument for an unknown
// shape.
Traffic build(const std::string& shape, uint32_t n, bool zip);

// The session id every shape's packets are for.
inline constexpr uint32_t kSid = 1234;
// The app id the shapes that name one app use.
inline constexpr uint32_t kApp = 7;

}  // namespace perf
