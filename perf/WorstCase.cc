// sapp_worst_case SHAPE N [--zip] [--limit BYTES] [--log] [--request]:
// delivers the constructed traffic of SHAPE at size N (perf/Shapes.h;
// `--list` names them all) to the module and prints what it cost the module:
// the bytes delivered, the time onPacket took and how far the process's
// resident memory rose while it ran (Linux: the peak is reset before the
// calls through /proc/self/clear_refs and read from VmHWM after them, after
// the memory freed while building the packets has gone back to the system).
// The session posts events and sends requests by counting them, so the
// figures are the module's own. "kept" is what the module's state holds on
// to after the calls (glibc's count of bytes in use); "the event holds" is
// how much more was in use while the largest event was being posted than
// after the calls (the event, and whatever else of the call's lives as long
// as it), so that the peak less that is the call's transient memory beyond
// the event the host receives.
//
// --zip compresses the app lists of the PAddAppReq shapes; --limit sets the
// host's unzip limit (default 4 MiB); --log turns the host's log level on
// (every line the module logs is then written to the stand-in sink, as a
// host with logging enabled would); --request then times one client
// request for app 7, whose uplink carries the app's proxies as the packets
// left them.
//
// `--maximal` lists each shape at its largest (perf::maximal), and
// `--check-maximal` checks those sizes against their limits (the CTest test
// perf_maximal_sizes).
//
// perf/worst-case.sh runs the limits table of docs/robustness.md;
// perf/growth.sh runs every shape at N and 8N under callgrind, counting the
// instructions of sapp_worst_case_deliver, the one function that calls the
// module with the measured packets; perf/bound.sh checks each shape's cost
// per byte.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <malloc.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/ClientRecords.h"
#include "marshal/Errors.h"
#include "module/ISessionMod.h"
#include "perf/Shapes.h"
#include "protocol/ClientEvents.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinLog.h"

namespace {

// glibc's count of heap bytes in use. perf/growth.sh and
// perf/worst-case.sh turn callgrind's counting off inside it: it is the
// measurement's, not the module's.
extern "C" __attribute__((noinline)) std::size_t sapp_worst_case_heap() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Posts events and sends requests by counting them: the host's copy of an
// event and its marshalling of a request are not the module's cost. Notes
// the most heap in use while an event is posted.
class QuietSession : public standin::Session {
public:
    using standin::Session::Session;
    void postAppEvent(const AppEvent&) override {
        ++events;
        heapAtEvent = std::max(heapAtEvent, sapp_worst_case_heap());
    }
    void sendRequest(const SessionRequest&) override { ++sent; }
    unsigned events = 0;
    unsigned sent = 0;
    std::size_t heapAtEvent = 0;
};

// KiB of resident memory: now (VmRSS) or the peak since the last reset (VmHWM).
long statusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::string(key).size(), nullptr, 10);
    }
    return -1;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::vector<standin::Packet> packets(std::vector<perf::Delivery>& deliveries, std::size_t& bytes) {
    std::vector<standin::Packet> out;
    out.reserve(deliveries.size());
    for (perf::Delivery& d : deliveries) {
        bytes += d.body.size();
        out.emplace_back(d.uri, 200, std::move(d.body));
    }
    deliveries.clear();
    return out;
}

// Each maximal size (perf::maximal) within its limits: the traffic fits one
// fuzz input, no zipped field claims more than the host's unzip limit, and
// one of the two is nearly reached (a smaller N would not do as well).
int checkMaximal() {
    int failed = 0;
    for (const perf::Maximal& m : perf::maximal()) {
        const perf::Traffic traffic = perf::build(m.shape, m.n, m.zip);
        const std::size_t program = perf::programBytes(traffic);
        std::size_t largest = 0;
        for (const perf::Delivery& d : traffic.measured) largest = std::max(largest, perf::inflation(d).largest);
        const bool within = program <= perf::kFuzzInputBytes && largest <= standin::kDefaultUnzipLimit;
        const bool full = 10 * program > 9 * perf::kFuzzInputBytes || 10 * largest > 9 * standin::kDefaultUnzipLimit;
        std::printf("%-24s %8u%-4s %6zu bytes of fuzz input, largest field %7zu inflated%s\n", m.shape, m.n,
                    m.zip ? " zip" : "", program, largest, within ? (full ? "" : "  SMALLER THAN IT COULD BE") : "  TOO LARGE");
        if (!within || !full) failed = 1;
    }
    return failed;
}

}  // namespace

// Delivers the measured packets one after the other; the first decode error
// ends the delivery and is returned. perf/growth.sh and perf/worst-case.sh
// count the instructions of this function and of everything it calls.
extern "C" __attribute__((noinline)) const char* sapp_worst_case_deliver(ISessionMod* mod,
                                                                          std::vector<standin::Packet>& packets) {
    for (standin::Packet& packet : packets) {
        try {
            mod->onPacket(perf::kSid, &packet);
        } catch (const pakt::PacketError& e) {
            return e.what();
        }
    }
    return "ok";
}

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--list") {
        for (const perf::ShapeInfo& shape : perf::shapes()) std::printf("%-24s %s\n", shape.name, shape.what);
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--maximal") {
        for (const perf::Maximal& m : perf::maximal()) std::printf("%s %u%s\n", m.shape, m.n, m.zip ? " --zip" : "");
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--check-maximal") return checkMaximal();
    if (argc < 3) {
        std::fprintf(stderr, "usage: sapp_worst_case SHAPE N [--zip] [--limit BYTES] [--log] [--request]\n"
                             "       sapp_worst_case --list | --maximal | --check-maximal\n");
        return 2;
    }
    const std::string shape = argv[1];
    const auto n = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    bool zip = false;
    bool request = false;
    bool log = false;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--zip") zip = true;
        if (arg == "--request") request = true;
        if (arg == "--log") log = true;
        if (arg == "--limit" && i + 1 < argc) standin::setUnzipLimit(static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10)));
    }
    perf::Traffic traffic;
    try {
        traffic = perf::build(shape, n, zip);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "sapp_worst_case: %s (--list names them)\n", e.what());
        return 2;
    }
    standin::setLogLevelEnabled(log);
    QuietSession session(perf::kSid);
    ISessionMod* mod = getModule(&session);
    std::size_t setupBytes = 0;
    std::size_t size = 0;
    std::vector<standin::Packet> setup = packets(traffic.setup, setupBytes);
    std::size_t inflated = 0;
    for (const perf::Delivery& d : traffic.measured) inflated += perf::inflation(d).total;
    std::vector<standin::Packet> measured = packets(traffic.measured, size);
    for (standin::Packet& packet : setup) mod->onPacket(perf::kSid, &packet);
    standin::clearLogRecords();
    const unsigned eventsBefore = session.events;

    // What building the packets freed goes back to the system, so that the
    // module's allocations show in the resident memory.
    malloc_trim(0);
    const long before = statusKiB("VmRSS:");
    const std::size_t heapBefore = sapp_worst_case_heap();
    resetPeak();
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    const char* outcome = sapp_worst_case_deliver(mod, measured);
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const long peak = statusKiB("VmHWM:");
    const std::size_t heapAfter = sapp_worst_case_heap();
    const double mib = 1048576.0;
    const double kept = (static_cast<double>(heapAfter) - static_cast<double>(heapBefore)) / mib;
    const double event =
        session.heapAtEvent > heapAfter ? static_cast<double>(session.heapAtEvent - heapAfter) / mib : 0.0;
    const double peakMiB = (peak - before) / 1024.0;
    const std::size_t lines = standin::logRecords().size();
    std::printf("%s %u%s%s: %zu packet(s) of %zu bytes (%zu inflated), onPacket %.1f ms (%.1f ms of CPU), resident +%.1f MiB at peak, "
                "the event holds %.1f MiB, %.1f MiB beyond it, heap +%.1f MiB kept, %u events, %zu log lines (%s)\n",
                shape.c_str(), n, zip ? " zipped" : "", log ? " logged" : "", measured.size(), size, inflated, ms, cpuMs,
                peakMiB, event, std::max(0.0, peakMiB - event), kept, session.events - eventsBefore, lines, outcome);
    if (request) {
        AppDataRequest appData;
        appData.type = REQ_APP_DATA;
        appData.appId = perf::kApp;
        appData.data = "aa";
        const auto requestStart = std::chrono::steady_clock::now();
        mod->onRequest(perf::kSid, &appData);
        const double requestMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - requestStart).count();
        std::printf("%s %u%s: then one client request for app %u, onRequest %.1f ms, %u sent\n", shape.c_str(), n,
                    zip ? " zipped" : "", perf::kApp, requestMs, session.sent);
    }
    mod->onLeave(perf::kSid);
    releaseModule(perf::kSid);
    return 0;
}
