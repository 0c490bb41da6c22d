// Constructed worst-case traffic for the module.
//
// A shape is a recipe for inbound packets whose size grows with one number
// N: a list repeated N times, N proxies, N sources, N packets. Each shape is
// built to reach one path of the module at its worst: repeated ids,
// repeated proxies, repeated services, ids that a hash table would put into
// one bucket, deletes of an app listed many times, both SDK generations.
// sapp_worst_case times one shape at one size (perf/worst-case.sh, the
// limits table of docs/robustness.md); perf/growth.sh counts the module's
// instructions at N and 8N to show that none grows faster than its input,
// and perf/bound.sh checks each at its largest against the cost per byte.
// The shapes at their largest are also fuzz_module's full-size seeds.
#pragma once

#include <cstddef>
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

// What the host inflates for a delivery: the unzipped lengths its zipped
// fields claim, in all and the largest (0 for a packet with none).
struct Inflation {
    std::size_t total = 0;
    std::size_t largest = 0;
};
Inflation inflation(const Delivery& delivery);

// A shape at its largest: the size N at which its traffic, setup included,
// fills one fuzz_module input of 64 KiB (each packet a Packet action: body
// and 6 bytes, after the 2 of the Open action), or, zipped, at which its
// lists inflate to the host's default unzip limit (4 MiB) in a packet that
// still fits. The sizes of the limits table (perf/worst-case.sh) and of
// fuzz_module's full-size seeds (fuzz/MakeCorpus.cc).
struct Maximal {
    const char* shape;
    uint32_t n;
    bool zip;
};
const std::vector<Maximal>& maximal();

// The longest fuzz input (libFuzzer's -max_len in fuzz/run.sh).
inline constexpr std::size_t kFuzzInputBytes = 65536;

// Bytes of fuzz input that deliver `traffic` on one session (see Maximal).
std::size_t programBytes(const Traffic& traffic);

// The session id every shape's packets are for.
inline constexpr uint32_t kSid = 1234;
// The app id the shapes that name one app use.
inline constexpr uint32_t kApp = 7;

}  // namespace perf
