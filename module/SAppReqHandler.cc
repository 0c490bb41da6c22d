#include "module/SAppReqHandler.h"

#include "appmgr/SAppMgr.h"

namespace {

// Apps whose client messages are never relayed.
constexpr uint32_t kExcludedAppIds[] = {90052, 90058};

}  // namespace

SAppReqHandler::SAppReqHandler(SAppMgr& appMgr) : m_appMgr(appMgr) {
    m_handlers[REQ_APP_DATA] = &SAppReqHandler::onAppDataReq;
}

SAppReqHandler::~SAppReqHandler() { m_handlers.clear(); }

void SAppReqHandler::dispatch(const AppRequest* request) {
    if (!request) return;
    const auto it = m_handlers.find(request->type);
    if (it != m_handlers.end()) (this->*(it->second))(request);
}

uint32_t SAppReqHandler::getTypeCount() const { return static_cast<uint32_t>(m_handlers.size()); }

void SAppReqHandler::getTypes(uint32_t* out) const {
    for (const auto& entry : m_handlers) *out++ = static_cast<uint32_t>(entry.first);
}

void SAppReqHandler::onAppDataReq(const AppRequest* request) {
    const auto* appData = static_cast<const AppDataRequest*>(request);
    for (uint32_t excluded : kExcludedAppIds) {
        if (appData->appId == excluded) return;
    }
    m_appMgr.sendAppMsg(appData->appId, appData->data);
}
