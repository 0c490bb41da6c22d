// fuzz_make_corpus SCENARIO_DIR CORPUS_DIR: writes the seed corpora of the
// fuzz targets from the scenario folder and the built-in scenario:
//
//   module/    each scenario as a program of fuzz_module's action language,
//              and each worst-case shape of perf/Shapes.h at its largest
//   records/   each record a scenario sends the module, the payloads inside
//              them, and every record with its fields left out
//   scenario/  each scenario's text; each record for decode (as hex) and for
//              encode (as the fields decode prints)
//
// and, beside CORPUS_DIR in CORPUS_DIR-full, the records of the largest
// shapes for records/ and scenario/: full-size seeds that only the fuzz
// runs start from (fuzz/run.sh). Decoding one as JSON takes the Debug build
// most of a second, too long for every build's corpus replay; the largest
// shapes' programs, which the module runs in milliseconds, are replayed
// with module/.
//
// Files are named by a hash of their content, so running it again adds
// only what is new. Run it after adding scenarios (docs/robustness.md).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "fuzz/ModuleActions.h"
#include "protocol/PacketVisitor.h"
#include "marshal/Errors.h"
#include "perf/Shapes.h"
#include "tools/sapp-host/scenario/BuiltinScenario.h"
#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/scenario/Scenario.h"
#include "tools/sapp-host/records/Zlib.h"

namespace {

namespace fs = std::filesystem;
namespace ps = protocol::session;
using namespace sapphost;
using sappfuzz::Action;

class Corpus {
public:
    explicit Corpus(fs::path root) : m_root(std::move(root)) {}

    // An input longer than a fuzz run takes (perf::kFuzzInputBytes) is left
    // out: libFuzzer would cut it short.
    void add(const std::string& target, const std::string& bytes) {
        if (bytes.size() > perf::kFuzzInputBytes) return;
        uint64_t hash = 14695981039346656037ull;
        for (const unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
        char name[17];
        std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
        const fs::path dir = m_root / target;
        fs::create_directories(dir);
        const fs::path file = dir / name;
        if (fs::exists(file)) return;
        std::ofstream(file, std::ios::binary) << bytes;
        ++m_written[target];
    }

    void report() const {
        for (const auto& [target, count] : m_written) {
            std::printf("%s: %d new inputs\n", (m_root / target).string().c_str(), count);
        }
    }

private:
    fs::path m_root;
    std::map<std::string, int> m_written;
};

std::string recordIndex(std::string_view name) {
    const std::vector<std::string> names = recordNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return std::string(1, static_cast<char>(i));
    }
    throw std::logic_error("no record " + std::string(name));
}

// A record's bytes for fuzz_records and for decode and encode.
void addRecord(Corpus& corpus, std::string_view name, const std::string& bytes) {
    corpus.add("records", recordIndex(name) + '\0' + bytes);
    corpus.add("scenario", std::string(1, '\1') + recordIndex(name) + '\0' + toHex(bytes));
    try {
        const Decoded decoded = decodeRecord(name, bytes, Direction::Down);
        corpus.add("scenario", std::string(1, '\2') + recordIndex(name) + decoded.fields.dump());
    } catch (const pakt::UnpackError&) {
    }
}

// The payloads inside a packet's record of row `row` (protocol/PacketVisitor.h),
// unzipped. A body whose type chooses no record seeds the first choice's
// record all the same.
template <class P> void addPayloadsOf(P row, Corpus& corpus, const std::string& body) {
    try {
        pakt::Unpack up(body.data(), body.size());
        typename P::Record r;
        r.unmarshal(up);
        ps::forEachPayload(row, r, [&](const ps::PayloadField& field) {
            std::string bytes = *field.bytes;
            if (field.isZipped()) bytes = inflateExactly(bytes, *field.length).value_or(std::string());
            addRecord(corpus, field.record.empty() ? field.choices.front().record : field.record, bytes);
        });
    } catch (const pakt::UnpackError&) {
    }
}

void addPayloads(Corpus& corpus, uint32_t uri, const std::string& body) {
    ps::forEachPacket([&](auto row) {
        using P = decltype(row);
        if constexpr (ps::isDecoded<P>) {
            if (P::uri == uri) addPayloadsOf(row, corpus, body);
        }
    });
}

// A scenario as a fuzz_module program: its sessions (the first two names)
// become the two slots, sids and URIs the nearest the language has.
class ProgramWriter {
public:
    std::string write(const Scenario& scenario) {
        for (const Step& step : scenario.steps) std::visit(*this, step.what);
        return m_out.program();
    }

    void operator()(const OpenAction& a) {
        if (!a.session) return action(Action::NullCalls, 0);
        action(Action::Open, slotOf(*a.session, a.sid));
    }
    void operator()(const SetSidAction&) {}
    void operator()(const EventAction& a) {
        uint8_t type = 5;
        for (uint8_t i = 0; i < std::size(sappfuzz::kEvents); ++i) {
            if (sappfuzz::kEvents[i] == a.type) type = i;
        }
        action(Action::Event, slotOf(a.session, 0));
        byte(type);
        byte(sidIndex(a.sid));
        byte(sidIndex(a.asid));
        byte(static_cast<uint8_t>(a.pid));
        u32(static_cast<uint32_t>(a.uid));
        shortBytes(a.udb);
    }
    void operator()(const PacketAction& a) {
        if (!a.body) return action(Action::NullCalls, slotOfSid(a.sid));
        packet(slotOfSid(a.sid), a.uri, a.res, *a.body);
    }
    void operator()(const RequestAction& a) {
        if (a.null) return action(Action::NullCalls, slotOfSid(a.sid));
        action(Action::Request, slotOfSid(a.sid));
        byte(a.type == 1007 ? 0 : 255);
        byte(a.appId == 90052 || a.appId == 90058 ? 0 : 16);
        if (a.appId != 90052 && a.appId != 90058) u32(a.appId);
        byte(a.data.size() > 255 ? 0 : 4);
        if (a.data.size() <= 255) shortBytes(a.data);
    }
    void operator()(const AdvanceAction& a) {
        action(Action::Advance, 0);
        byte(static_cast<uint8_t>(std::min<uint64_t>(a.ms / 100, 255)));
    }
    void operator()(const LeaveAction& a) {
        action(Action::Leave, 0);
        byte(sidIndex(a.sid));
    }
    void operator()(const ReleaseAction& a) { action(Action::Release, slotOfSid(a.sid)); }
    void operator()(const AskAction&) { action(Action::Ask, 0); }
    void operator()(const DbAction& a) {
        action(Action::Database, slotOfSid(a.sid));
        byte(a.remove ? 1 : 0);
        if (!a.remove) u32(a.sGroupId.value_or(0));
    }
    void operator()(const FaultAction& a) {
        const auto call = std::find(std::begin(standin::kHostCalls), std::end(standin::kHostCalls), a.call);
        action(Action::Fault, a.session ? slotOf(*a.session, 0) : 0);
        byte(static_cast<uint8_t>(call - std::begin(standin::kHostCalls)));
        byte(a.mode == standin::FaultMode::Once ? 0 : a.mode == standin::FaultMode::Always ? 128 : 255);
    }
    void operator()(const HostAction& a) {
        if (!a.settings.unzipLimit) return;
        action(Action::UnzipLimit, 0);
        byte(255);
        u16(static_cast<uint16_t>(std::min<uint32_t>(*a.settings.unzipLimit, 0xFFFF)));
    }

    void open() { m_out.open(); }
    void packet(uint8_t slot, uint32_t uri, uint32_t res, const std::string& body) { m_out.packet(slot, uri, res, body); }
    const std::string& program() const { return m_out.program(); }

private:
    void action(Action a, uint8_t slot) { m_out.action(a, slot); }
    void byte(uint8_t b) { m_out.byte(b); }
    void u32(uint32_t v) { m_out.u32(v); }
    void u16(uint16_t v) { m_out.u16(v); }
    void shortBytes(const std::string& s) { m_out.shortBytes(s); }
    uint8_t slotOf(const std::string& name, uint32_t sid) {
        const auto [it, added] = m_slots.try_emplace(name, static_cast<uint8_t>(m_slots.size() % 2));
        if (added && sid) m_slotOfSid[sid] = it->second;
        return it->second;
    }
    uint8_t slotOfSid(uint32_t sid) {
        const auto it = m_slotOfSid.find(sid);
        return it == m_slotOfSid.end() ? 0 : it->second;
    }
    static uint8_t sidIndex(uint32_t sid) { return sid == 0 ? 3 : sid == 5678 ? 1 : sid == 4321 ? 2 : 0; }

    sappfuzz::ProgramBytes m_out;
    std::map<std::string, uint8_t> m_slots;
    std::map<uint32_t, uint8_t> m_slotOfSid;
};

void addScenario(Corpus& corpus, const std::string& text, const std::string& source) {
    corpus.add("scenario", std::string(1, '\0') + text);
    const Scenario scenario = parseScenario(text, source);
    corpus.add("module", ProgramWriter().write(scenario));
    for (const Step& step : scenario.steps) {
        const auto* packet = std::get_if<PacketAction>(&step.what);
        if (!packet || !packet->body) continue;
        const std::string_view record = recordNameForUri(packet->uri);
        if (record.empty()) continue;
        addRecord(corpus, record, *packet->body);
        addPayloads(corpus, packet->uri, *packet->body);
    }
}

// Every worst-case shape of perf/Shapes.h at its largest (perf::maximal),
// the seeds that let a fuzz run start from inputs of the full 64 KiB: for
// fuzz_module the shape's traffic on one session, for fuzz_records and
// fuzz_scenario its packets' records.
void addMaximalShapes(Corpus& corpus, Corpus& full) {
    for (const perf::Maximal& m : perf::maximal()) {
        const perf::Traffic traffic = perf::build(m.shape, m.n, m.zip);
        ProgramWriter writer;
        writer.open();
        for (const auto* list : {&traffic.setup, &traffic.measured}) {
            for (const perf::Delivery& d : *list) writer.packet(0, d.uri, 200, d.body);
        }
        corpus.add("module", writer.program());
        // A zipped list of the full size is sapp-host's to inflate and show
        // as JSON for fuzz_records and fuzz_scenario: seconds per input, not
        // a seed to start from. Their full-size seeds are the plain packets.
        if (m.zip) continue;
        const perf::Delivery& last = traffic.measured.back();
        const std::string_view record = recordNameForUri(last.uri);
        if (!record.empty()) addRecord(full, record, last.body);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_make_corpus SCENARIO_DIR CORPUS_DIR\n");
        return 2;
    }
    try {
        Corpus corpus(argv[2]);
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(argv[1])) {
            if (entry.path().extension() == ".json") files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            addScenario(corpus, text, file.filename().string());
        }
        addScenario(corpus, builtinScenario(), "built-in scenario");
        fs::path root(argv[2]);
        if (!root.has_filename()) root = root.parent_path();
        Corpus full(root.string() + "-full");
        addMaximalShapes(corpus, full);
        for (const std::string& name : recordNames()) addRecord(corpus, name, encodeRecord(name, Json::object(), name));
        corpus.report();
        full.report();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_make_corpus: %s\n", e.what());
        return 1;
    }
}
