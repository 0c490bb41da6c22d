// sapp_worst_case SHAPE N [--zip] [--limit BYTES] [--log] [--request]:
// delivers the constructed traffic of SHAPE at size N (perf/Shapes.h;
// `--list` names them all) to the module and prints what it cost the module:
// the bytes delivered, the time onPacket took and how far the process's
// resident memory rose while it ran (Linux: the peak is reset before the
// calls through /proc/self/clear_refs and read from VmHWM after them, after
// the memory freed while building the packets has gone back to the system).
// The session posts events and sends requests by counting them, so the
// figures are the module's own. "kept" is what the module's state holds on
// to after the calls (glibc's count of bytes in use).
//
// --zip compresses the app lists of the PAddAppReq shapes; --limit sets the
// host's unzip limit (default 4 MiB); --log turns the host's log level on
// (every line the module logs is then written to the stand-in sink, as a
// host with logging enabled would); --request then times one client
// request for app 7, whose uplink carries the app's proxies as the packets
// left them.
//
// perf/worst-case.sh runs the limits table of docs/robustness.md;
// perf/growth.sh runs every shape at N and 8N under callgrind, counting the
// instructions of sapp_worst_case_deliver, the one function that calls the
// module with the measured packets.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/ClientEvents.h"
#include "host/ClientRecords.h"
#include "marshal/Errors.h"
#include "module/ISessionMod.h"
#include "perf/Shapes.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinLog.h"

namespace {

// Posts events and sends requests by counting them: the host's copy of an
// event and its marshalling of a request are not the module's cost.
class QuietSession : public standin::Session {
public:
    using standin::Session::Session;
    void postAppEvent(const AppEvent&) override { ++events; }
    void sendRequest(const SessionRequest&) override { ++sent; }
    unsigned events = 0;
    unsigned sent = 0;
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
        for (const perf::ShapeInfo& shape : perf::shapes()) std::printf("%-20s %s\n", shape.name, shape.what);
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: sapp_worst_case SHAPE N [--zip] [--limit BYTES] [--log] [--request]\n"
                             "       sapp_worst_case --list\n");
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
    std::vector<standin::Packet> measured = packets(traffic.measured, size);
    for (standin::Packet& packet : setup) mod->onPacket(perf::kSid, &packet);
    standin::clearLogRecords();
    const unsigned eventsBefore = session.events;

    // What building the packets freed goes back to the system, so that the
    // module's allocations show in the resident memory.
    malloc_trim(0);
    const long before = statusKiB("VmRSS:");
    const std::size_t heapBefore = mallinfo2().uordblks + mallinfo2().hblkhd;
    resetPeak();
    const auto start = std::chrono::steady_clock::now();
    const char* outcome = sapp_worst_case_deliver(mod, measured);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const long peak = statusKiB("VmHWM:");
    const double kept = (static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd) - heapBefore) / 1048576.0;
    const std::size_t lines = standin::logRecords().size();
    std::printf("%s %u%s%s: %zu packet(s) of %zu bytes, onPacket %.1f ms, resident +%.1f MiB at peak, "
                "heap +%.1f MiB kept, %u events, %zu log lines (%s)\n",
                shape.c_str(), n, zip ? " zipped" : "", log ? " logged" : "", measured.size(), size, ms,
                (peak - before) / 1024.0, kept, session.events - eventsBefore, lines, outcome);
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
