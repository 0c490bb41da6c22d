// The per-session hub.
//
// One SAppContext exists for every channel session in the module's registry.
// It watches the host session, builds and owns the session's objects (channel
// data helper, app manager, app-list query, packet handler table, client
// request table, user info), keeps the user info current from session events
// and is the one way in which those objects send a request to the server.
// The objects it owns reach each other and the host through its accessors.
#pragma once

#include <cstdint>
#include <memory>

#include "host/ISession.h"
#include "host/Pktcore.h"
#include "host/SessionEvent.h"

namespace pakt {
class Marshallable;
}

class SAppModule;
class SAppDCHelper;
class SAppMgr;
class SAppQuery;
class SAppProtoHandler;
class SAppReqHandler;

class SAppContext final : public protocol::session::ISessionWatcher {
public:
    // Registers with the session's watchers, then builds, in this order, the
    // channel data helper, app manager, query, packet handler table, request
    // table and the user info (holding the session's sid). If a build step
    // throws, the watcher registration is undone before the exception leaves.
    SAppContext(SAppModule* module, ISession* session);
    // Unregisters from the session first, then destroys the owned objects in
    // the order they were built.
    ~SAppContext();
    SAppContext(const SAppContext&) = delete;
    SAppContext& operator=(const SAppContext&) = delete;

    void onSessionEvent(const protocol::session::SessionEvent& event) override;

    // Hands `body` to the host under `uri` as a SessionRequest of type 100.
    void send(uint32_t uri, const pakt::Marshallable& body);

    ISession* session() const { return m_pSession; }
    SAppModule* module() const { return m_pModule; }
    SAppDCHelper* dcHelper() const { return m_pDcHelper.get(); }
    SAppMgr* appMgr() const { return m_pAppMgr.get(); }
    SAppQuery* query() const { return m_pQuery.get(); }
    SAppProtoHandler* protoHandler() const { return m_pProtoHandler.get(); }
    SAppReqHandler* reqHandler() const { return m_pReqHandler.get(); }
    ProtoUInfo* userInfo() const { return m_pUserInfo.get(); }

private:
    void destroyOwned();

    ISession* m_pSession;
    SAppModule* m_pModule;
    std::unique_ptr<SAppDCHelper> m_pDcHelper;
    std::unique_ptr<SAppMgr> m_pAppMgr;
    std::unique_ptr<SAppQuery> m_pQuery;
    std::unique_ptr<SAppProtoHandler> m_pProtoHandler;
    std::unique_ptr<SAppReqHandler> m_pReqHandler;
    std::unique_ptr<ProtoUInfo> m_pUserInfo;
};
