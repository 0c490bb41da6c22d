#include "module/SAppContext.h"

#include "appmgr/SAppMgr.h"
#include "handlers/SAppProtoHandler.h"
#include "handlers/SAppQuery.h"
#include "module/SAppModule.h"
#include "module/SAppReqHandler.h"
#include "support/SAppDCHelper.h"
#include "support/SAppLog.h"

using protocol::session::SessionEvent;

SAppContext::SAppContext(SAppModule* module, ISession* session) : m_pSession(session), m_pModule(module) {
    m_pSession->addWatcher(this);
    try {
        m_pDcHelper = std::make_unique<SAppDCHelper>(this, m_pSession->getSid());
        m_pAppMgr = std::make_unique<SAppMgr>(this);
        m_pQuery = std::make_unique<SAppQuery>(this);
        m_pProtoHandler = std::make_unique<SAppProtoHandler>(this);
        m_pReqHandler = std::make_unique<SAppReqHandler>(this);
        m_pUserInfo = std::make_unique<ProtoUInfo>();
        m_pUserInfo->setSid(m_pSession->getSid());
    } catch (...) {
        m_pSession->removeWatcher(this);
        destroyOwned();
        throw;
    }
}

SAppContext::~SAppContext() {
    SAPP_LOG("SAppContext::~SAppContext, enter");
    m_pSession->removeWatcher(this);
    destroyOwned();
    SAPP_LOG("SAppContext::~SAppContext, exit");
}

// In the order of construction.
void SAppContext::destroyOwned() {
    m_pDcHelper.reset();
    m_pAppMgr.reset();
    m_pQuery.reset();
    m_pProtoHandler.reset();
    m_pReqHandler.reset();
    m_pUserInfo.reset();
}

void SAppContext::onSessionEvent(const SessionEvent& event) {
    switch (event.type) {
        case protocol::session::EVENT_SESS_SID_ASID:
            m_pUserInfo->setSid(event.sid);
            m_pUserInfo->setAsid(event.asid);
            if (event.sid != event.asid && m_pModule) m_pModule->rebind(event.sid, event.asid);
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

void SAppContext::send(uint32_t uri, const pakt::Marshallable& body) {
    SessionRequest request;
    request.type = 100;
    request.uri = uri;
    request.body = &body;
    m_pSession->sendRequest(request);
}
