// The session's table of inbound packet handlers.
//
// Maps a packet URI to its handler: one fixed table for every session, made
// of the inbound rows of the packet table (protocol/Packets.h), each handled
// by the overload of on() for its row (SAppProtoHandler.cc), or by the one
// for any row: a notice the app manager takes as it is (SAppMgr::onNotice).
// Null packets and unknown URIs are ignored silently. A handler acts only on a packet whose result code is
// 200: it decodes the packet into its row's view record and hands it to the
// app manager (the app list also ends the app-list query's retries, before
// it is decoded). Decoding errors are not caught here.
#pragma once

#include <cstdint>

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
    SAppMgr& m_appMgr;
    SAppQuery& m_query;
};
