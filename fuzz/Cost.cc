#include "fuzz/Cost.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/ModuleActions.h"
#include "protocol/PacketVisitor.h"

#if defined(SAPP_WORK_COUNT)
// Exported by the fuzz build's module only (support/WorkCount.cc).
extern "C" uint64_t sappWorkCount();
#endif

namespace sappfuzz {
namespace {

constexpr std::size_t kKinds = static_cast<std::size_t>(CallKind::FirstPacket) + kUris.size();

// The value of the environment variable `name`; empty when it is not set.
std::string environment(const char* name) {
#if defined(_MSC_VER)
    // MSVC's runtime deprecates getenv for its _dupenv_s.
    char* value = nullptr;
    std::size_t size = 0;
    if (_dupenv_s(&value, &size, name) != 0 || value == nullptr) return {};
    std::string out(value);
    std::free(value);
    return out;
#else
    const char* value = std::getenv(name);
    return value ? value : "";
#endif
}

std::string nameOf(CallKind kind) {
    static const char* const kNames[] = {"getModule", "onRequest", "a session event", "a task run", "onLeave",
                                         "releaseModule"};
    const auto index = static_cast<std::size_t>(kind);
    if (kind < CallKind::FirstPacket) return kNames[index];
    const uint32_t uri = kUris[index - static_cast<std::size_t>(CallKind::FirstPacket)];
    std::string record = "a packet the module does not handle";
    protocol::session::forEachPacket([&](auto row) {
        if (decltype(row)::uri == uri) record = std::string(decltype(row)::name);
    });
    return "onPacket " + record;
}

std::string describe(CallKind kind, const CallCost& c) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "%s: %llu edges of the module's work, %.1f %% of its limit of %.0f (%llu bytes handed, %llu "
                  "inflated, %llu sent, %llu log lines, %llu held)",
                  nameOf(kind).c_str(), static_cast<unsigned long long>(c.work), 100.0 * static_cast<double>(c.work) / limitOf(c),
                  limitOf(c), static_cast<unsigned long long>(c.input), static_cast<unsigned long long>(c.inflated),
                  static_cast<unsigned long long>(c.sent), static_cast<unsigned long long>(c.logLines),
                  static_cast<unsigned long long>(c.held));
    return text;
}

// The call of the run with the largest share of its limit, told at exit:
// of all calls, and of the large ones (see Kept), whose share is their
// cost per byte.
struct Costliest {
    struct Call {
        double share = -1;
        std::string text;
    };
    Call any;
    Call large;
    ~Costliest() {
        if (any.share >= 0) std::fprintf(stderr, "fuzz: costliest call: %s\n", any.text.c_str());
        if (large.share >= 0) std::fprintf(stderr, "fuzz: costliest large call: %s\n", large.text.c_str());
    }
};

// The inputs whose large calls took the largest shares of their limits,
// written to FUZZ_COST_KEEP's folder at exit (fuzz/run.sh has them counted
// under callgrind: perf/bound.sh --programs). A call is large when what it
// was handed and produced allows it kLargeCalls times its constant: the
// constant's share says little of the cost per byte. Kept per kind of call
// and per step of 1/32 of the share, the first input to reach it: for each
// kind the inputs of its kStepsKept highest steps. Edges weigh work
// differently from instructions (a block of the fuzz build holds one to a
// dozen), so the input costliest in instructions need not be the one
// costliest in edges; inputs of different shapes, each costly, are what
// the count in instructions should see, not the mutations of one.
constexpr double kLargeCalls = 4;
constexpr std::size_t kStepsKept = 2;

std::size_t stepOf(double share) { return static_cast<std::size_t>(share * 32); }

class Kept {
public:
    void beginInput(const uint8_t* data, std::size_t size) {
        m_input.assign(reinterpret_cast<const char*>(data), size);
        m_reached.clear();
    }
    static bool large(const CallCost& cost) { return limitOf(cost) >= kLargeCalls * kLimit.perCall; }
    void note(CallKind kind, double share, const CallCost& cost) {
        if (large(cost)) m_reached.push_back({kind, stepOf(share), share});
    }
    void endInput() {
        for (const Reached& r : m_reached) {
            std::vector<Input>& steps = m_kept[static_cast<std::size_t>(r.kind)];
            const auto at = std::find_if(steps.begin(), steps.end(), [&](const Input& i) { return i.step == r.step; });
            if (at != steps.end()) continue;  // the first input to reach a step keeps it
            steps.push_back({r.step, r.share, m_input});
            std::sort(steps.begin(), steps.end(), [](const Input& a, const Input& b) { return a.step > b.step; });
            if (steps.size() > kStepsKept) steps.pop_back();
        }
    }
    ~Kept() {
        const std::string folder = environment("FUZZ_COST_KEEP");
        if (folder.empty()) return;
        for (std::size_t kind = 0; kind < m_kept.size(); ++kind) {
            for (const Input& input : m_kept[kind]) {
                // "onPacket-PAddAppReq-0369": the kind, and the share in thousandths.
                std::string name = nameOf(static_cast<CallKind>(kind));
                std::replace(name.begin(), name.end(), ' ', '-');
                char share[16];
                std::snprintf(share, sizeof share, "-%04.0f", 1000 * input.share);
                std::ofstream(folder + "/" + name + share, std::ios::binary) << input.bytes;
            }
        }
    }

private:
    struct Reached {
        CallKind kind;
        std::size_t step;
        double share;
    };
    struct Input {
        std::size_t step;
        double share;
        std::string bytes;
    };
    std::string m_input;
    std::vector<Reached> m_reached;  // by the input being played
    std::vector<std::vector<Input>> m_kept = std::vector<std::vector<Input>>(kKinds);
};

Kept& kept() {
    static Kept k;
    return k;
}

#if defined(SAPP_FUZZ_COST) && defined(SAPP_LIBFUZZER)
// libFuzzer's extra counters (its __libfuzzer_extra_counters section):
// every nonzero byte is a feature, and libFuzzer clears them before each
// input.
constexpr std::size_t kSteps = 64;  // shares of 1/32 up to 2
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t s_shares[kKinds * kSteps];

void feature(CallKind kind, double share) {
    const std::size_t step = std::min(stepOf(share), kSteps - 1);
    s_shares[static_cast<std::size_t>(kind) * kSteps + step] = 1;
}
#else
[[maybe_unused]] void feature(CallKind, double) {}
#endif

}  // namespace

CallKind packetKind(uint32_t uri) {
    std::size_t index = kUris.size() - 1;
    for (std::size_t i = 0; i < kUris.size(); ++i) {
        if (kUris[i] == uri) index = i;
    }
    return static_cast<CallKind>(static_cast<std::size_t>(CallKind::FirstPacket) + index);
}

uint64_t workCount() {
#if defined(SAPP_WORK_COUNT)
    return sappWorkCount();
#else
    return 0;
#endif
}

void beginInput(const uint8_t* data, std::size_t size) { kept().beginInput(data, size); }

void endInput() { kept().endInput(); }

void judge(CallKind kind, const CallCost& cost) {
    static const bool log = !environment("FUZZ_COST_LOG").empty();
    if (log) std::fprintf(stderr, "fuzz: %s\n", describe(kind, cost).c_str());
#if defined(SAPP_WORK_COUNT)
    static Costliest costliest;
    const double share = static_cast<double>(cost.work) / limitOf(cost);
    for (Costliest::Call* call : {&costliest.any, &costliest.large}) {
        if (share <= call->share || (call == &costliest.large && !Kept::large(cost))) continue;
        call->share = share;
        call->text = describe(kind, cost);
    }
    if (share > 1) {
        std::fprintf(stderr, "fuzz: cost finding: %s\n", describe(kind, cost).c_str());
        std::abort();
    }
    kept().note(kind, share, cost);
    feature(kind, share);
#endif
}

}  // namespace sappfuzz
