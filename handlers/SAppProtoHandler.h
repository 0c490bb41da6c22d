// The session's table of inbound packet handlers.
//
// Maps a packet URI to its handler: one fixed table for every session. Null
// packets and unknown URIs are ignored silently. A handler acts only on a
// packet whose result code is 200: it decodes the packet into its record and
// hands it to the app manager (the app list also ends the app-list query's
// retries, before it is decoded). Decoding errors are not caught here.
#pragma once

#include <cstddef>
#include <cstdint>

class IProtoPacket;
class SAppContext;

class SAppProtoHandler {
public:
    explicit SAppProtoHandler(SAppContext* context);
    ~SAppProtoHandler();
    SAppProtoHandler(const SAppProtoHandler&) = delete;
    SAppProtoHandler& operator=(const SAppProtoHandler&) = delete;

    void dispatch(IProtoPacket* packet);
    uint32_t getUriCount() const;
    // Writes every URI in ascending order; `out` has room for getUriCount().
    void getUris(uint32_t* out) const;

private:
    using Handler = void (SAppProtoHandler::*)(IProtoPacket*);

    void onAddAppReq(IProtoPacket* packet);
    void onDelAppReq(IProtoPacket* packet);
    void onUserMsg3(IProtoPacket* packet);
    void onAppMsgToClient(IProtoPacket* packet);
    void onSetCurAnnouceApp(IProtoPacket* packet);
    void onAddAnnouceApp(IProtoPacket* packet);

    struct Entry {
        uint32_t uri;
        Handler handler;
    };
    static constexpr std::size_t kHandlerCount = 6;
    static const Entry kHandlers[kHandlerCount];

    SAppContext* m_pContext;
};
