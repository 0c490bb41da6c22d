#include "module/SAppContext.h"

#include "appmgr/SAppMgr.h"
#include "handlers/SAppProtoHandler.h"
#include "handlers/SAppQuery.h"
#include "module/SAppModule.h"
#include "module/SAppReqHandler.h"
#include "support/SAppDCHelper.h"
#include "support/SAppLog.h"

using protocol::session::SessionEvent;

SAppContext::SAppContext(SAppModule* module, ISession* session)
    : m_pSession(session), m_pModule(module), m_owned(std::make_unique<Owned>()) {
    m_pSession->addWatcher(this);
    try {
        m_owned->dcHelper = std::make_unique<SAppDCHelper>(this, m_pSession->getSid());
        m_owned->appMgr = std::make_unique<SAppMgr>(this);
        m_owned->query = std::make_unique<SAppQuery>(this);
        m_owned->protoHandler = std::make_unique<SAppProtoHandler>(this);
        m_owned->reqHandler = std::make_unique<SAppReqHandler>(this);
        m_owned->userInfo = std::make_unique<ProtoUInfo>();
        m_owned->userInfo->setSid(m_pSession->getSid());
    } catch (...) {
        // What was built goes with m_owned as the exception unwinds.
        m_pSession->removeWatcher(this);
        throw;
    }
}

SAppContext::~SAppContext() {
    SAPP_LOG("SAppContext::~SAppContext, enter");
    m_pSession->removeWatcher(this);
    m_owned.reset();
    SAPP_LOG("SAppContext::~SAppContext, exit");
}

void SAppContext::onSessionEvent(const SessionEvent& event) {
    switch (event.type) {
        case protocol::session::EVENT_SESS_SID_ASID:
            m_owned->userInfo->setSid(event.sid);
            m_owned->userInfo->setAsid(event.asid);
            if (event.sid != event.asid && m_pModule) m_pModule->rebind(event.sid, event.asid);
            break;
        case protocol::session::EVENT_SESS_USER_INFO:
            m_owned->userInfo->setSid(event.sid);
            m_owned->userInfo->setUid(event.uid);
            m_owned->userInfo->setUdb(event.udb);
            m_owned->userInfo->setCookie(event.cookie);
            break;
        case protocol::session::EVENT_SESS_LEAVE:
            SAPP_LOG("SAppContext::onSessionEvent, EVENT_SESS_LEAVE");
            m_owned->query->stop();
            break;
        case protocol::session::EVENT_SESS_PID:
            m_owned->userInfo->setPid(event.pid);
            m_owned->appMgr->queryAnnounceApps();
            break;
        case protocol::session::EVENT_SESS_QUERY_APPS:
            m_owned->query->start();
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
