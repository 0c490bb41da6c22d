// The interfaces a host implements, implemented here under the Microsoft C++
// ABI. The msvc-wine preset builds this file as a host would (no
// SAPP_BUILD) into sapp_msvc_layout.dll, which holds a virtual table for
// each class below; the test msvc_dll_layout reads them from the linked DLL
// and its PDB and compares every slot with cmake/msvc-layout/Slots.txt, the
// MSVC column of docs/abi.md's slot tables. The module's own tables
// (SAppModule, ProtoTimer<SAppQuery>, SAppContext, the exported interfaces,
// ProtoPacketPool) come from sapp.dll. Every record offset check of the
// interface headers holds here too, under Microsoft layout rules.
#include "host/ISession.h"
#include "host/Pktcore.h"
#include "host/Tarnbase.h"
#include "marshal/Marshallable.h"
#include "module/ISessionMod.h"
#include "module/PerfRecord.h"

namespace layout {

struct HostSession final : ISession {
    uint32_t getSid() override { return 0; }
    void sendRequest(const SessionRequest&) override {}
    void postAppEvent(const AppEvent&) override {}
    IProtoTaskQueue* getTaskQueue() override { return nullptr; }
    void addWatcher(protocol::session::ISessionWatcher*) override {}
    void removeWatcher(protocol::session::ISessionWatcher*) override {}
};

struct HostTaskQueue final : IProtoTaskQueue {
    void addTask(IProtoTask*, uint32_t) override {}
    void removeTask(IProtoTask*) override {}
};

struct HostPacket final : IProtoPacket {
    uint32_t getUri() override { return 0; }
    int32_t getBodyLen() override { return 0; }
    uint32_t getResCode() override { return 0; }
    const char* getBody() override { return nullptr; }
    void unmarshal(pakt::Marshallable&) override {}
};

struct HostPacketPool final : ProtoPacketPool {
    IProtoPacket* newPacket(int, const pakt::Marshallable&) override { return nullptr; }
    IProtoPacket* newPacket(const char*, uint64_t, int) override { return nullptr; }
    IProtoPacket* newPacket(int, const char*, uint64_t, int) override { return nullptr; }
    void freePacket(IProtoPacket*) override {}
};

struct HostTable final : Data::ITable {
    void addRef() override {}
    void releaseRef() override {}
};

struct HostField final : Data::IField {
    void addRef() override {}
    void releaseRef() override {}
    uint32_t getUInt32(const uint16_t&) override { return 0; }
};

struct HostDatabase final : Data::IDatabase {
    void addRef() override {}
    void releaseRef() override {}
    comptr<Data::ITable> getTable(const uint16_t&) override { return {}; }
    comptr<Data::IField> getField(const uint16_t&) override { return {}; }
};

// pakt::Marshallable, as every record derives from it.
struct HostRecord final : pakt::Marshallable {
    void marshal(pakt::Pack&) const override {}
    void unmarshal(pakt::Unpack&) override {}
    std::ostream& trace(std::ostream& os) const override { return os; }
    std::string toString() const override { return {}; }
};

}  // namespace layout

// Constructing each class emits its virtual table; exported, so the linker
// keeps it.
__declspec(dllexport) void* makeHostObjects(int which) {
    switch (which) {
        case 0: return new layout::HostSession;
        case 1: return new layout::HostTaskQueue;
        case 2: return new layout::HostPacket;
        case 3: return new layout::HostPacketPool;
        case 4: return new layout::HostTable;
        case 5: return new layout::HostField;
        case 6: return new layout::HostDatabase;
        default: return new layout::HostRecord;
    }
}
