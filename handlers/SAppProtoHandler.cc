#include "handlers/SAppProtoHandler.h"

#include <array>

#include "appmgr/SAppMgr.h"
#include "handlers/SAppQuery.h"
#include "host/IProtoPacket.h"
#include "protocol/Packets.h"
#include "support/SAppLog.h"

namespace ps = protocol::session;

namespace {

constexpr uint32_t kResultOk = 200;

// The packet is not null: dispatch checked it.
bool accepted(IProtoPacket* packet) { return packet->getResCode() == kResultOk; }

// Decodes the packet into a fresh view record of row P. A view points into
// the packet's body, which stays valid until the handler returns.
template <class P>
typename P::View decode(IProtoPacket* packet) {
    typename P::View record;
    packet->unmarshal(record);
    return record;
}

// Where the handlers hand what they decoded.
struct Targets {
    SAppMgr& appMgr;
    SAppQuery& query;
};

// Any row without an overload of its own below: a notice the app manager
// takes as it is, decoded when accepted and handed to the overload of
// SAppMgr::onNotice for its view. A row has its own overload only when it
// does more (a log line, the app-list query, a packet the app manager reads
// in parts).
template <class P>
void on(P, Targets& to, IProtoPacket* packet) {
    if (!accepted(packet)) return;
    auto notice = decode<P>(packet);
    to.appMgr.onNotice(notice);
}

void on(ps::AddAppReqPacket, Targets& to, IProtoPacket* packet) {
    SAPP_LOG("SAppProtoHandler::onAddAppReq");
    if (!accepted(packet)) return;
    to.query.onResult();
    auto request = decode<ps::AddAppReqPacket>(packet);
    to.appMgr.onAddAppReq(request);
}

void on(ps::DelAppReqPacket, Targets& to, IProtoPacket* packet) {
    SAPP_LOG("SAppProtoHandler::onDelAppReq");
    if (!accepted(packet)) return;
    auto request = decode<ps::DelAppReqPacket>(packet);
    to.appMgr.onDelAppReq(request);
}

void on(ps::SetCurAnnounceAppPacket, Targets& to, IProtoPacket* packet) {
    // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("SAppProtoHandler::onSetCurAnnouceApp");
    if (!accepted(packet)) return;
    to.appMgr.onSetCurrentAnnounceApp(packet);
}

void on(ps::AddAnnounceAppsPacket, Targets& to, IProtoPacket* packet) {
    // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("SAppProtoHandler::onAddAnnouceApp");
    if (!accepted(packet)) return;
    to.appMgr.onAddAnnounceApps(packet);
}

// Hands the packet to the overload of the row of its URI, trying the rows
// from the last: the app-platform carriers, by far the most frequent
// packets, sit there (their URIs are the highest). A few rows (six): a
// chain of compares the compiler builds costs less than any lookup
// structure, and each overload is called directly. False when no row has
// the URI.
template <class P, class... Rest>
bool route(uint32_t uri, Targets& to, IProtoPacket* packet, ps::TypeList<P, Rest...>) {
    if constexpr (sizeof...(Rest) > 0) {
        if (route(uri, to, packet, ps::TypeList<Rest...>{})) return true;
    }
    if (uri != P::uri) return false;
    on(P{}, to, packet);
    return true;
}

// The inbound rows' URIs, in the table's ascending order; built by the
// compiler: no code runs to fill it.
template <class... P>
consteval std::array<uint32_t, sizeof...(P)> urisOf(ps::TypeList<P...>) {
    return {{P::uri...}};
}
constexpr auto kUris = urisOf(ps::InboundPackets{});

}  // namespace

SAppProtoHandler::SAppProtoHandler(SAppMgr& appMgr, SAppQuery& query) : m_appMgr(appMgr), m_query(query) {}

SAppProtoHandler::~SAppProtoHandler() = default;

void SAppProtoHandler::dispatch(IProtoPacket* packet) {
    if (!packet) return;
    Targets to{m_appMgr, m_query};
    route(packet->getUri(), to, packet, ps::InboundPackets{});
}

uint32_t SAppProtoHandler::getUriCount() const { return static_cast<uint32_t>(kUris.size()); }

void SAppProtoHandler::getUris(uint32_t* out) const {
    for (const uint32_t uri : kUris) *out++ = uri;
}
