// The per-session hub.
//
// One SAppContext exists for every channel session in the module's registry.
// It watches the host session, builds and owns the session's objects (channel
// data helper, app manager, app-list query, packet handler table, client
// request table, user info) and keeps the user info current from session
// events. The parts it owns never see it: they get the session's
// SessionLink, which it owns and through which they send requests, and the
// siblings they call, when it builds them. A change of session id (the
// sid/asid event) is its owner's to apply: the context reports it through
// the callback its owner gave it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "host/ISession.h"
#include "host/Pktcore.h"
#include "host/SessionEvent.h"
#include "support/SessionLink.h"

class Teardown;
class SAppDCHelper;
class SAppMgr;
class SAppQuery;
class SAppProtoHandler;
class SAppReqHandler;

class SAppContext final : public protocol::session::ISessionWatcher {
public:
    // Called with (sid, asid) when the session reports an asid that differs
    // from its sid; the owner re-keys its registry.
    using Rebind = std::function<void(uint32_t sid, uint32_t asid)>;

    // Registers with the session's watchers, then builds, in this order, the
    // channel data helper, app manager, query, packet handler table, request
    // table and the user info (holding the session's sid). If a build step
    // throws, the watcher registration is undone and the parts built are let
    // go before that exception leaves (a second one, from removeWatcher, is
    // dropped).
    SAppContext(ISession* session, Rebind onRebind = {});
    // Frees what is left. Calls no host: its owner closes the context first
    // (close), since a host exception cannot leave a destructor.
    ~SAppContext();
    SAppContext(const SAppContext&) = delete;
    SAppContext& operator=(const SAppContext&) = delete;

    // The session's teardown: logs, unregisters from the session's watchers,
    // then lets go of the owned objects in the order they were built (the
    // database references, the query's task) and logs again. Every step is
    // taken even when the host throws from an earlier one; the first
    // exception is rethrown after the last step. Afterwards the context
    // makes no further host call; what is left is freed with it.
    void close();
    // A closed context ignores the session's events: a host whose
    // removeWatcher threw may still call it.
    void onSessionEvent(const protocol::session::SessionEvent& event) override;

    // What the parts see of the session: the host session, the user info,
    // and sending a request.
    const SessionLink& link() const { return m_link; }

    SAppProtoHandler* protoHandler() const { return m_pProtoHandler.get(); }
    SAppReqHandler* reqHandler() const { return m_pReqHandler.get(); }

private:
    // The host-facing part of letting go of the owned objects.
    void closeOwned(Teardown& teardown);
    void destroyOwned();

    Rebind m_onRebind;
    SessionLink m_link;
    std::unique_ptr<SAppDCHelper> m_pDcHelper;
    std::unique_ptr<SAppMgr> m_pAppMgr;
    std::unique_ptr<SAppQuery> m_pQuery;
    std::unique_ptr<SAppProtoHandler> m_pProtoHandler;
    std::unique_ptr<SAppReqHandler> m_pReqHandler;
    std::unique_ptr<ProtoUInfo> m_pUserInfo;
    bool m_closed = false;
};
