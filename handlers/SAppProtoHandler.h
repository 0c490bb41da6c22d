// The session's table of inbound packet handlers.
//
// Maps a packet URI to its handler: one fixed table for every session, made
// of the inbound rows of the packet table (protocol/Packets.h), each handled
// by the overload of on() for its row. Null packets and unknown URIs are
// ignored silently. A handler acts only on a packet whose result code is
// 200: it decodes the packet into its row's view record and hands it to the
// app manager (the app list also ends the app-list query's retries, before
// it is decoded). Decoding errors are not caught here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/Packets.h"

class IProtoPacket;
class SAppMgr;
class SAppQuery;

class SAppProtoHandler {
public:
    // The handlers hand packets to `appMgr`; the app list also ends `query`.
    SAppProtoHandler(SAppMgr& appMgr, SAppQuery& query);
    ~SAppProtoHandler();
    SAppProtoHandler(const SAppProtoHandler&) = delete;
    SAppProtoHandler& operator=(const SAppProtoHandler&) = delete;

    void dispatch(IProtoPacket* packet);
    uint32_t getUriCount() const;
    // Writes every URI in ascending order; `out` has room for getUriCount().
    void getUris(uint32_t* out) const;

private:
    using Handler = void (SAppProtoHandler::*)(IProtoPacket*);

    // One overload per inbound row of the packet table.
    void on(protocol::session::AddAppReqPacket, IProtoPacket* packet);
    void on(protocol::session::DelAppReqPacket, IProtoPacket* packet);
    void on(protocol::session::AddAnnounceAppsPacket, IProtoPacket* packet);
    void on(protocol::session::SetCurAnnounceAppPacket, IProtoPacket* packet);
    void on(protocol::session::UserMsg3Packet, IProtoPacket* packet);
    void on(protocol::session::AppMsgToClientPacket, IProtoPacket* packet);

    // The table's entry for row P.
    template <class P>
    void handle(IProtoPacket* packet) {
        on(P{}, packet);
    }

    struct Entry {
        uint32_t uri;
        Handler handler;
    };
    // The table is built by the compiler (consteval): no code runs to fill it.
    template <class... P>
    static consteval std::array<Entry, sizeof...(P)> entries(protocol::session::TypeList<P...>) {
        return {{{P::uri, &SAppProtoHandler::handle<P>}...}};
    }
    static const std::array<Entry, protocol::session::count(protocol::session::InboundPackets{})> kHandlers;

    SAppMgr& m_appMgr;
    SAppQuery& m_query;
};
