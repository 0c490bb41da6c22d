// sapp-bench: the module's cost per message, against two baselines.
//
// Every module benchmark drives libsapp through its exported entry points
// (getModule, ISessionMod::onPacket and onRequest, releaseModule) with a
// session that discards what it receives (BenchHost.h), and with the log
// level disabled, so the figures are the module's own work:
//
//   BM_DownlinkV3Data, BM_DownlinkV2Data   one 256-byte data message of an app with one proxy
//   BM_UplinkV3, BM_UplinkV2/8             one 256-byte REQ_APP_DATA to an app with 1 / 8 proxies
//   BM_AppList/N                           one PAddAppReq announcing N apps, on a fresh session
//   BM_AppListEvent/N                      the floor of BM_AppList/N: building and freeing the
//                                          packs of its event from a list already read
//   BM_AppListDecode/N                     decoding that app list (PluginAppPackMap) alone
//   BM_DownlinkV3Data/sources:K, /apps:K   BM_DownlinkV3Data with K sources seen / apps registered
//
// and the baselines BM_Memcpy/256 (copying the message bytes) and
// BM_AppListProtobuf/N (parsing the same app list from protobuf bytes).
//
// Every module benchmark reports its allocations per message (per app for
// BM_AppList/N) in the column "allocs": the C heap allocations made inside
// the module's entry points, counted by the bench host (AllocationCount.h).
//
// SAPP_BENCH_ITERATIONS=n runs every benchmark for exactly n iterations, for
// instruction counts under callgrind (bench/callgrind.sh).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#endif

#include "bench/AllocationCount.h"
#include "bench/applist.pb.h"
#include "bench/BenchHost.h"
#include "host/ClientRecords.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"
#include "standin/tarnbase/StandinLog.h"

namespace {

using namespace sappbench;
namespace ps = protocol::session;

constexpr std::size_t kMessageSize = 256;
constexpr uint32_t kSid = 1;
constexpr uint32_t kAppV2 = 5;     // SDK V2, proxy 50
constexpr uint32_t kAppV3 = 6;     // SDK V3, proxy 60
constexpr uint32_t kAppV2x8 = 7;   // SDK V2, proxies 70..77
constexpr uint32_t kScaleFirstApp = 100000;
constexpr uint64_t kScaleFirstSource = 5000000;

std::string messageBytes() {
    std::string data(kMessageSize, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    return data;
}

const std::string& message() {
    static const std::string data = messageBytes();
    return data;
}

// A session that knows the three apps of the data benchmarks.
std::unique_ptr<ModuleSession> dataSession() {
    auto session = std::make_unique<ModuleSession>(kSid);
    std::vector<AppSpec> apps{{kAppV2, {50}, 2}, {kAppV3, {60}, 3}, {kAppV2x8, {70, 71, 72, 73, 74, 75, 76, 77}, 2}};
    session->deliver(ps::URI_ADD_APP_REQ, addAppReqBytes(kSid, apps));
    return session;
}

// Reports the allocations counted since `before` per iteration, divided by
// `perIteration` (the apps of a list), as the column "allocs".
// Called where a benchmark's timed loop starts: under callgrind, drops the
// instructions counted so far, the set-up's included. bench/callgrind.sh
// takes the difference of two runs, which cancels a set-up only when both
// cost the same, and a set-up that fills the registry does not: the
// registry's hash keys are drawn per process, so inserting 100,000 ids
// costs each run a different number of probes (BM_DownlinkV3Data/sources:100000
// read anything from 241 to 498 per message). Only when
// SAPP_BENCH_ZERO_AT_LOOP is set (bench/callgrind.sh sets it): zeroing in
// the middle of the call stack leaves the frames above it with costs that
// a per-function listing (bench/profile.sh) cannot tell from their own.
// Returns the allocations counted so far, for reportAllocations.
uint64_t startMeasuring() {
#if __has_include(<valgrind/callgrind.h>)
    static const bool zero = std::getenv("SAPP_BENCH_ZERO_AT_LOOP") != nullptr;
    if (zero) CALLGRIND_ZERO_STATS;
#endif
    return allocationsCounted();
}

void reportAllocations(benchmark::State& state, uint64_t before, double perIteration = 1) {
    if (!allocationCountAvailable()) return;
    const auto counted = static_cast<double>(allocationsCounted() - before);
    state.counters["allocs"] = benchmark::Counter(counted / perIteration, benchmark::Counter::kAvgIterations);
}

void runV3Downlink(benchmark::State& state, ModuleSession& session) {
    SequencedPacket packet(ps::URI_APP_MSG_TO_CLIENT, [](uint32_t seq) { return v3DataBytes(kAppV3, 60, seq, message()); },
                           0);
    const uint64_t before = startMeasuring();
    for (auto _ : state) {
        const Counted counted;
        session.module()->onPacket(kSid, packet.next());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageSize));
    reportAllocations(state, before);
}

void BM_DownlinkV3Data(benchmark::State& state) {
    auto session = dataSession();
    runV3Downlink(state, *session);
}

// K sources already seen: K V3 messages of distinct sources before the timed ones.
void BM_DownlinkV3DataSources(benchmark::State& state) {
    auto session = dataSession();
    const auto sources = static_cast<uint64_t>(state.range(0));
    for (uint64_t i = 0; i < sources; ++i) {
        session->deliver(ps::URI_APP_MSG_TO_CLIENT, v3DataBytes(kAppV3, kScaleFirstSource + i, 1, "x"));
    }
    runV3Downlink(state, *session);
}

// K apps registered besides the benchmark's own.
void BM_DownlinkV3DataApps(benchmark::State& state) {
    auto session = dataSession();
    const auto apps = static_cast<uint32_t>(state.range(0));
    session->deliver(ps::URI_ADD_APP_REQ, addAppReqBytes(kSid, generatedApps(apps, kScaleFirstApp)));
    runV3Downlink(state, *session);
}

void BM_DownlinkV2Data(benchmark::State& state) {
    auto session = dataSession();
    SequencedPacket packet(ps::URI_USER_MSG3, [](uint32_t seq) { return v2DataBytes(kAppV2, 50, seq, message()); }, 0);
    const uint64_t before = startMeasuring();
    for (auto _ : state) {
        const Counted counted;
        session->module()->onPacket(kSid, packet.next());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageSize));
    reportAllocations(state, before);
}

void runUplink(benchmark::State& state, uint32_t appId) {
    auto session = dataSession();
    AppDataRequest request;
    request.type = REQ_APP_DATA;
    request.appId = appId;
    request.data = message();
    const uint64_t before = startMeasuring();
    for (auto _ : state) {
        const Counted counted;
        session->module()->onRequest(kSid, &request);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageSize));
    reportAllocations(state, before);
}

void BM_UplinkV3(benchmark::State& state) { runUplink(state, kAppV3); }

void BM_UplinkV2(benchmark::State& state) {
    if (state.range(0) != 8) state.SkipWithError("the V2 app of the benchmark has 8 proxies");
    runUplink(state, kAppV2x8);
}

void BM_AppList(benchmark::State& state) {
    const auto count = static_cast<uint32_t>(state.range(0));
    const std::string body = addAppReqBytes(kSid, generatedApps(count, kScaleFirstApp));
    const uint64_t before = startMeasuring();
    for (auto _ : state) {
        state.PauseTiming();
        auto session = std::make_unique<ModuleSession>(kSid);
        state.ResumeTiming();
        {
            const Counted counted;
            session->deliver(ps::URI_ADD_APP_REQ, body);
        }
        state.PauseTiming();
        session.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
    reportAllocations(state, before, count);
}

void BM_AppListDecode(benchmark::State& state) {
    const auto count = static_cast<uint32_t>(state.range(0));
    const std::string bytes = appPackMapBytes(generatedApps(count, kScaleFirstApp));
    for (auto _ : state) decodeAppList(bytes);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
}

// The heap goes through what it goes through in BM_AppList/N: a fresh
// session before each list, the kept proxy lists and the session freed
// after it, outside the timed part. What malloc and free cost depends on
// that history (docs/performance.md, "The floor of each kind").
void BM_AppListEvent(benchmark::State& state) {
    const auto count = static_cast<uint32_t>(state.range(0));
    const vessaplugin::appMgr::PluginAppPackMap read = readAppList(appPackMapBytes(generatedApps(count, kScaleFirstApp)));
    const uint64_t before = startMeasuring();
    for (auto _ : state) {
        state.PauseTiming();
        auto session = std::make_unique<ModuleSession>(kSid);
        std::vector<std::vector<uint64_t>> kept;
        state.ResumeTiming();
        {
            const Counted counted;
            buildAppListEvent(read, kept);
        }
        state.PauseTiming();
        kept = {};
        session.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
    reportAllocations(state, before, count);
}

void BM_AppListProtobuf(benchmark::State& state) {
    const auto count = static_cast<uint32_t>(state.range(0));
    const std::string bytes = appPackMapProtobuf(generatedApps(count, kScaleFirstApp));
    for (auto _ : state) {
        sappbench::AppPackMap map;
        if (!map.ParseFromString(bytes)) state.SkipWithError("protobuf bytes do not parse");
        benchmark::DoNotOptimize(map);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
}

void BM_Memcpy(benchmark::State& state) {
    const std::string& source = message();
    std::string target(source.size(), '\0');
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), static_cast<std::size_t>(state.range(0)));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * state.range(0)));
}

void registerAll(benchmark::IterationCount fixedIterations) {
    std::vector<benchmark::internal::Benchmark*> all{
        benchmark::RegisterBenchmark("BM_Memcpy", BM_Memcpy)->Arg(kMessageSize),
        benchmark::RegisterBenchmark("BM_DownlinkV3Data", BM_DownlinkV3Data),
        benchmark::RegisterBenchmark("BM_DownlinkV2Data", BM_DownlinkV2Data),
        benchmark::RegisterBenchmark("BM_UplinkV3", BM_UplinkV3),
        benchmark::RegisterBenchmark("BM_UplinkV2", BM_UplinkV2)->Arg(8),
        benchmark::RegisterBenchmark("BM_AppList", BM_AppList)->RangeMultiplier(10)->Range(10, 10000),
        benchmark::RegisterBenchmark("BM_AppListEvent", BM_AppListEvent)->RangeMultiplier(10)->Range(10, 10000),
        benchmark::RegisterBenchmark("BM_AppListDecode", BM_AppListDecode)->RangeMultiplier(10)->Range(10, 10000),
        benchmark::RegisterBenchmark("BM_AppListProtobuf", BM_AppListProtobuf)->RangeMultiplier(10)->Range(10, 10000),
        benchmark::RegisterBenchmark("BM_DownlinkV3Data", BM_DownlinkV3DataSources)
            ->ArgName("sources")->Arg(1)->Arg(1000)->Arg(100000),
        benchmark::RegisterBenchmark("BM_DownlinkV3Data", BM_DownlinkV3DataApps)
            ->ArgName("apps")->Arg(1)->Arg(1000)->Arg(100000),
    };
    for (auto* b : all) {
        if (fixedIterations > 0) b->Iterations(fixedIterations);
        // The app lists pause the clock around each fresh session; measure
        // wall time so that the pauses are not counted in CPU time either.
        b->Unit(benchmark::kNanosecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A host with its log level off: each log line the module must make
    // still asks the sink, but composes nothing.
    standin::setLogLevelEnabled(false);
    const char* fixed = std::getenv("SAPP_BENCH_ITERATIONS");
    registerAll(fixed ? std::atoll(fixed) : 0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
