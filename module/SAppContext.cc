#include "module/SAppContext.h"

#include <cassert>

#include "appmgr/SAppMgr.h"
#include "handlers/SAppProtoHandler.h"
#include "handlers/SAppQuery.h"
#include "module/SAppReqHandler.h"
#include "support/SAppDCHelper.h"
#include "support/EntryGuard.h"
#include "support/SAppLog.h"
#include "support/Teardown.h"

using protocol::session::SessionEvent;

SAppContext::SAppContext(ISession* session, Rebind onRebind)
    : m_onRebind(std::move(onRebind)), m_link(session) {
    m_link.session()->addWatcher(this);
    try {
        m_pDcHelper = std::make_unique<SAppDCHelper>(m_link.session()->getSid());
        m_pAppMgr = std::make_unique<SAppMgr>(m_link);
        m_pQuery = std::make_unique<SAppQuery>(m_link, *m_pDcHelper);
        m_pProtoHandler = std::make_unique<SAppProtoHandler>(*m_pAppMgr, *m_pQuery);
        m_pReqHandler = std::make_unique<SAppReqHandler>(*m_pAppMgr);
        m_pUserInfo = std::make_unique<ProtoUInfo>();
        m_pUserInfo->setSid(m_link.session()->getSid());
        m_link.setUserInfo(m_pUserInfo.get());
    } catch (...) {
        m_closed = true;
        Teardown teardown;
        teardown.step([&] { m_link.session()->removeWatcher(this); });
        closeOwned(teardown);
        destroyOwned();
        throw;
    }
}

SAppContext::~SAppContext() { assert(m_closed && "a context is closed before it is destroyed"); }

void SAppContext::close() {
    if (m_closed) return;
    m_closed = true;
    Teardown teardown;
    // Kept word for word, odd as it reads: ARCHITECTURE.md, "Log texts".
    teardown.step([] { SAPP_LOG("SAppContext::~SAppContext, enter"); });
    teardown.step([&] { m_link.session()->removeWatcher(this); });
    closeOwned(teardown);
    destroyOwned();
    // Kept word for word, odd as it reads: ARCHITECTURE.md, "Log texts".
    teardown.step([] { SAPP_LOG("SAppContext::~SAppContext, exit"); });
    teardown.finish();
}

// The parts that hold something of the host's, in the order of construction:
// the database references, then the query's task.
void SAppContext::closeOwned(Teardown& teardown) {
    if (m_pDcHelper) m_pDcHelper->close(teardown);
    if (m_pQuery) m_pQuery->close(teardown);
}

// In the order of construction; no part calls the host any more.
void SAppContext::destroyOwned() {
    m_pDcHelper.reset();
    m_pAppMgr.reset();
    m_pQuery.reset();
    m_pProtoHandler.reset();
    m_pReqHandler.reset();
    m_pUserInfo.reset();
}

void SAppContext::onSessionEvent(const SessionEvent& event) {
    const EntryGuard guard("onSessionEvent");
    if (m_closed) return;
    switch (event.type) {
        case protocol::session::EVENT_SESS_SID_ASID:
            m_pUserInfo->setSid(event.sid);
            m_pUserInfo->setAsid(event.asid);
            if (event.sid != event.asid && m_onRebind) m_onRebind(event.sid, event.asid);
            break;
        case protocol::session::EVENT_SESS_USER_INFO:
            m_pUserInfo->setSid(event.sid);
            m_pUserInfo->setUid(event.uid);
            m_pUserInfo->setUdb(event.udb);
            m_pUserInfo->setCookie(event.cookie);
            break;
        case protocol::session::EVENT_SESS_LEAVE:
            SAPP_LOG("SAppContext::onSessionEvent, EVENT_SESS_LEAVE");
            m_pQuery->stop();
            break;
        case protocol::session::EVENT_SESS_PID:
            m_pUserInfo->setPid(event.pid);
            m_pAppMgr->queryAnnounceApps();
            break;
        case protocol::session::EVENT_SESS_QUERY_APPS:
            m_pQuery->start();
            break;
        default:
            break;
    }
}
