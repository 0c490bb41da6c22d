// The host side of sapp-bench: a session that discards what the module hands
// it, packets over prepared bytes, and the wire bytes of the messages the
// benchmarks deliver.
//
// Nothing here records or copies what the module sends or posts, so what a
// benchmark measures is the module's own work plus two empty virtual calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/IProtoPacket.h"
#include "host/ISession.h"
#include "module/ISessionMod.h"

namespace vessaplugin::appMgr {
struct PluginAppPackMap;
}

namespace sappbench {

// A session whose sendRequest and postAppEvent do nothing and whose task
// queue queues nothing. It keeps its watchers, to hand them session events.
class DiscardSession final : public ISession {
public:
    explicit DiscardSession(uint32_t sid) : m_sid(sid) {}

    uint32_t getSid() override { return m_sid; }
    void sendRequest(const SessionRequest&) override {}
    void postAppEvent(const AppEvent&) override {}
    IProtoTaskQueue* getTaskQueue() override { return &m_queue; }
    void addWatcher(protocol::session::ISessionWatcher* watcher) override { m_watchers.push_back(watcher); }
    void removeWatcher(protocol::session::ISessionWatcher* watcher) override;

    void deliver(const protocol::session::SessionEvent& event);

private:
    struct NullQueue final : IProtoTaskQueue {
        void addTask(IProtoTask*, uint32_t) override {}
        void removeTask(IProtoTask*) override {}
    };

    uint32_t m_sid;
    NullQueue m_queue;
    std::vector<protocol::session::ISessionWatcher*> m_watchers;
};

// An inbound packet over bytes the caller keeps alive, with result code 200.
class BenchPacket final : public IProtoPacket {
public:
    BenchPacket(uint32_t uri, const std::string& body) : m_uri(uri), m_body(body) {}

    uint32_t getUri() override { return m_uri; }
    int32_t getBodyLen() override { return static_cast<int32_t>(m_body.size()); }
    uint32_t getResCode() override { return 200; }
    const char* getBody() override { return m_body.data(); }
    void unmarshal(pakt::Marshallable& record) override;

private:
    uint32_t m_uri;
    const std::string& m_body;
};

// A packet whose body carries a sequence number that every delivery
// increases, so that the module's per-source check accepts each one.
class SequencedPacket {
public:
    // `body(seq)` must give bytes that differ only in the four bytes of seq.
    template <class MakeBody>
    SequencedPacket(uint32_t uri, MakeBody body, uint32_t firstSeq)
        : m_body(body(0)), m_offset(seqOffset(m_body, body(0xFFFFFFFFu))), m_seq(firstSeq), m_packet(uri, m_body) {}

    // The packet with the next sequence number written into its body.
    IProtoPacket* next();

private:
    static std::size_t seqOffset(const std::string& zero, const std::string& ones);

    std::string m_body;
    std::size_t m_offset;
    uint32_t m_seq;
    BenchPacket m_packet;
};

// One module session of sid `sid`: getModule on construction, then the user
// info event (uid 11); onLeave and releaseModule on destruction.
class ModuleSession {
public:
    explicit ModuleSession(uint32_t sid = 1);
    ~ModuleSession();
    ModuleSession(const ModuleSession&) = delete;
    ModuleSession& operator=(const ModuleSession&) = delete;

    void deliver(uint32_t uri, const std::string& body);
    ISessionMod* module() const { return m_pModule; }
    uint32_t sid() const { return m_sid; }

private:
    uint32_t m_sid;
    DiscardSession m_session;
    ISessionMod* m_pModule;
};

// --- wire bytes ------------------------------------------------------------

// One app of a generated app list: id, proxies, SDK generation.
struct AppSpec {
    uint32_t appId;
    std::vector<uint64_t> proxyIds;
    uint16_t sdkVersion;
};

// Apps firstId, firstId + 1, ... with 4 proxies each and SDK V3, the shape of
// the BM_AppList benchmarks.
std::vector<AppSpec> generatedApps(uint32_t count, uint32_t firstId);

// The PluginAppPackMap bytes of `apps`: per app its strings (name,
// description, address), numbers, one version item and its proxies.
std::string appPackMapBytes(const std::vector<AppSpec>& apps);
// The same logical list as protobuf bytes (bench/applist.proto).
std::string appPackMapProtobuf(const std::vector<AppSpec>& apps);
// A PAddAppReq body announcing `apps` to sid `sid`, uncompressed.
std::string addAppReqBytes(uint32_t sid, const std::vector<AppSpec>& apps);

// --- the app list's floor ----------------------------------------------------

// The least an app list costs whatever reads it (BM_AppListEvent): builds
// the packs the host's event carries from `read`, a list already decoded
// (each pack copied: the same six allocations per app as the module's
// decode, the same string copies), lists their ids, moves each proxy list
// onto `kept` as a registry keeps them, and frees the packs. No wire is
// read, nothing is checked, looked up or logged. Not inlined:
// bench/callgrind-run.sh counts the instructions inside it as it counts the
// module's entry points.
void buildAppListEvent(const vessaplugin::appMgr::PluginAppPackMap& read, std::vector<std::vector<uint64_t>>& kept);

// The PluginAppPackMap `bytes`, decoded.
vessaplugin::appMgr::PluginAppPackMap readAppList(const std::string& bytes);
// Decodes the PluginAppPackMap `bytes` and frees it (BM_AppListDecode): the
// floor above with the wire read. Not inlined, for the same count.
void decodeAppList(const std::string& bytes);

// PAppMsgToClient (SDK V3, app data) and PUserMsg3 (SDK V2, app data)
// bodies carrying `data`.
std::string v3DataBytes(uint32_t appId, uint64_t srcId, uint32_t seq, const std::string& data);
std::string v2DataBytes(uint32_t appId, uint64_t proxyId, uint32_t seq, const std::string& data);

}  // namespace sappbench
