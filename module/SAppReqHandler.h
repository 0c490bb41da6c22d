// The session's table of client request handlers.
//
// Maps a request type (compared as signed 32-bit) to its handler; filled once
// in the constructor. Null requests and unknown types are ignored silently.
// The one entry is REQ_APP_DATA (1007), which hands an app's message to the
// app manager's uplink, except for the app ids 90052 and 90058, which are
// dropped silently.
#pragma once

#include <cstdint>
#include <map>

#include "host/ClientRecords.h"

class SAppMgr;

class SAppReqHandler {
public:
    // The one handler hands client messages to `appMgr`.
    explicit SAppReqHandler(SAppMgr& appMgr);
    ~SAppReqHandler();
    SAppReqHandler(const SAppReqHandler&) = delete;
    SAppReqHandler& operator=(const SAppReqHandler&) = delete;

    void dispatch(const AppRequest* request);
    uint32_t getTypeCount() const;
    // Writes every request type in ascending order; `out` has room for
    // getTypeCount() entries.
    void getTypes(uint32_t* out) const;

private:
    using Handler = void (SAppReqHandler::*)(const AppRequest*);

    void onAppDataReq(const AppRequest* request);

    SAppMgr& m_appMgr;
    std::map<int32_t, Handler> m_handlers;
};
