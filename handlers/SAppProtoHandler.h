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
    // One overload per inbound row of the packet table.
    void on(protocol::session::AddAppReqPacket, IProtoPacket* packet);
    void on(protocol::session::DelAppReqPacket, IProtoPacket* packet);
    void on(protocol::session::AddAnnounceAppsPacket, IProtoPacket* packet);
    void on(protocol::session::SetCurAnnounceAppPacket, IProtoPacket* packet);
    void on(protocol::session::UserMsg3Packet, IProtoPacket* packet);
    void on(protocol::session::AppMsgToClientPacket, IProtoPacket* packet);

    // Hands the packet to the overload of the row of its URI, trying the
    // rows from the last: the app-platform carriers, by far the most
    // frequent packets, sit there (their URIs are the highest). A few rows
    // (six): a chain of compares the compiler builds costs less than any
    // lookup structure, and each overload is called directly. False when
    // no row has the URI.
    template <class P, class... Rest>
    bool route(uint32_t uri, IProtoPacket* packet, protocol::session::TypeList<P, Rest...>) {
        if constexpr (sizeof...(Rest) > 0) {
            if (route(uri, packet, protocol::session::TypeList<Rest...>{})) return true;
        }
        if (uri != P::uri) return false;
        on(P{}, packet);
        return true;
    }

    // The inbound rows' URIs, in the table's ascending order; built by the
    // compiler (consteval): no code runs to fill it.
    template <class... P>
    static consteval std::array<uint32_t, sizeof...(P)> urisOf(protocol::session::TypeList<P...>) {
        return {{P::uri...}};
    }
    static const std::array<uint32_t, protocol::session::count(protocol::session::InboundPackets{})> kUris;

    SAppMgr& m_appMgr;
    SAppQuery& m_query;
};
