#include "module/SAppModule.h"

#include "handlers/SAppProtoHandler.h"
#include "module/SAppContext.h"
#include "module/SAppReqHandler.h"
#include "support/SAppLog.h"

namespace {

SAppModule* g_instance = nullptr;

constexpr uint32_t kInvalidSid = 0xFFFFFFFF;

}  // namespace

SAppModule* SAppModule::getInstance(ISession* session) {
    SAPP_LOG("SAppModule::getInstance");
    if (!g_instance) g_instance = new SAppModule();
    g_instance->addSession(session);
    return g_instance;
}

// Ownership choice: the host is expected to call onLeave (which destroys the
// context) before releaseModule. If it did not, the context is destroyed here
// rather than leaked, so that no watcher of a dead context stays registered
// with the host's session.
void SAppModule::release(uint32_t sid) {
    SAPP_LOG("SAppModule::release, enter");
    if (g_instance) {
        g_instance->m_sessions.erase(sid);
        if (g_instance->m_sessions.empty()) {
            delete g_instance;
            g_instance = nullptr;
        }
    }
    SAPP_LOG("SAppModule::release, leave");
}

SAppModule::~SAppModule() {
    SAPP_LOG("SAppModule::~VideoModule enter");
    for (auto& entry : m_sessions) entry.second.reset();
    m_sessions.clear();
    SAPP_LOG("SAppModule::~VideoModule, exit");
}

SAppContext* SAppModule::findSession(uint32_t sid) const {
    const auto it = m_sessions.find(sid);
    return it == m_sessions.end() ? nullptr : it->second.get();
}

SAppContext* SAppModule::firstSession() const {
    return m_sessions.empty() ? nullptr : m_sessions.begin()->second.get();
}

uint32_t SAppModule::getUriCount() {
    const SAppContext* context = firstSession();
    return context ? context->protoHandler()->getUriCount() : 0;
}

void SAppModule::getUris(uint32_t* out) {
    if (const SAppContext* context = firstSession()) context->protoHandler()->getUris(out);
}

uint32_t SAppModule::getReqTypeCount() {
    const SAppContext* context = firstSession();
    return context ? context->reqHandler()->getTypeCount() : 0;
}

void SAppModule::getReqTypes(uint32_t* out) {
    if (const SAppContext* context = firstSession()) context->reqHandler()->getTypes(out);
}

int32_t SAppModule::getModFlag() { return 1; }

void SAppModule::onPacket(uint32_t sid, IProtoPacket* packet) {
    SAppContext* context = findSession(sid);
    if (context && packet) context->protoHandler()->dispatch(packet);
}

void SAppModule::onRequest(uint32_t sid, const AppRequest* request) {
    if (SAppContext* context = findSession(sid)) context->reqHandler()->dispatch(request);
}

void SAppModule::onReserved(uint32_t, const void*) {}

void SAppModule::onLeave(uint32_t sid) {
    SAPP_LOG("SAppModule::onLeave, sid=", sid);
    delSession(sid);
}

void SAppModule::addSession(ISession* session) {
    if (!session) return;
    SAPP_LOG("SAppModule::addSession, sid=", session->getSid());
    const uint32_t sid = session->getSid();
    if (sid == 0 || sid == kInvalidSid) return;
    if (m_sessions.count(sid)) {
        SAPP_LOG("SAppModule::addSession, session already exist, sid=", sid);
        return;
    }
    auto context = std::make_unique<SAppContext>(this, session);
    m_sessions.emplace(sid, std::move(context));
}

void SAppModule::delSession(uint32_t sid) {
    SAPP_LOG("SAppModule::delSession, sid=", sid);
    const auto it = m_sessions.find(sid);
    if (it == m_sessions.end()) {
        SAPP_LOG("SAppModule::delSession, dession doesn't exist, sid=", sid);
        return;
    }
    it->second.reset();
    m_sessions.erase(it);
}

// Ownership choice: if `sid` already had a context, that context is
// destroyed rather than leaked when the moved one takes its place.
void SAppModule::rebind(uint32_t sid, uint32_t asid) {
    SAPP_LOG("SAppModule::rebind, sid/asid=", sid, asid);
    const auto it = m_sessions.find(asid);
    if (it == m_sessions.end()) return;
    std::unique_ptr<SAppContext> context = std::move(it->second);
    m_sessions.erase(it);
    m_sessions[sid] = std::move(context);
}

extern "C" SAPP_API ISessionMod* getModule(ISession* session) { return SAppModule::getInstance(session); }

extern "C" SAPP_API void releaseModule(uint32_t sid) { SAppModule::release(sid); }
