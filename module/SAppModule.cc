#include "module/SAppModule.h"

#include <utility>

#include "handlers/SAppProtoHandler.h"
#include "module/SAppContext.h"
#include "module/SAppReqHandler.h"
#include "support/EntryGuard.h"
#include "support/SAppLog.h"
#include "support/Teardown.h"

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

// Ownership choice: the host is expected to call onLeave (which closes the
// context) before releaseModule. If it did not, the context is closed here
// rather than leaked, so that no watcher of a dead context stays registered
// with the host's session. The entry goes and, when the registry is empty,
// the singleton too, also when the host throws from that teardown; its
// first exception then leaves after the last line is logged.
void SAppModule::release(uint32_t sid) {
    SAPP_LOG("SAppModule::release, enter");
    Teardown teardown;
    if (g_instance) {
        teardown.step([&] { g_instance->delSessionQuietly(sid); });
        if (g_instance->m_sessions.empty()) {
            g_instance->shutdown(teardown);
            delete g_instance;
            g_instance = nullptr;
        }
    }
    teardown.step([] { SAPP_LOG("SAppModule::release, leave"); });
    teardown.finish();
}

// The singleton is shut down (its contexts closed, its lines logged) before
// it is deleted; what is left makes no host call.
SAppModule::~SAppModule() = default;

// The singleton's last host calls: its log lines, and the teardown of every
// context still registered (at most those of ids never left).
void SAppModule::shutdown(Teardown& teardown) {
    // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
    teardown.step([] { SAPP_LOG("SAppModule::~VideoModule enter"); });
    while (!m_sessions.empty()) teardown.step([&] { closeAndErase(m_sessions.begin()); });
    // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
    teardown.step([] { SAPP_LOG("SAppModule::~VideoModule, exit"); });
}

// The registry lets go of the entry first, so the entry is gone whether or
// not the context's teardown throws; the context is freed either way.
void SAppModule::closeAndErase(Sessions::iterator entry) {
    forgetRecent();
    const std::unique_ptr<SAppContext> context = std::move(entry->second);
    m_sessions.erase(entry);
    context->close();
}

void SAppModule::delSessionQuietly(uint32_t sid) {
    const auto it = m_sessions.find(sid);
    if (it != m_sessions.end()) closeAndErase(it);
}

SAppContext* SAppModule::findSession(uint32_t sid) const {
    if (m_recent && m_recentSid == sid) return m_recent;
    const auto it = m_sessions.find(sid);
    if (it == m_sessions.end()) return nullptr;
    m_recentSid = sid;
    m_recent = it->second.get();
    return m_recent;
}

SAppContext* SAppModule::firstSession() const {
    return m_sessions.empty() ? nullptr : m_sessions.begin()->second.get();
}

uint32_t SAppModule::getUriCount() {
    const EntryGuard guard("getUriCount");
    const SAppContext* context = firstSession();
    return context ? context->protoHandler()->getUriCount() : 0;
}

void SAppModule::getUris(uint32_t* out) {
    const EntryGuard guard("getUris");
    if (const SAppContext* context = firstSession()) context->protoHandler()->getUris(out);
}

uint32_t SAppModule::getReqTypeCount() {
    const EntryGuard guard("getReqTypeCount");
    const SAppContext* context = firstSession();
    return context ? context->reqHandler()->getTypeCount() : 0;
}

void SAppModule::getReqTypes(uint32_t* out) {
    const EntryGuard guard("getReqTypes");
    if (const SAppContext* context = firstSession()) context->reqHandler()->getTypes(out);
}

int32_t SAppModule::getModFlag() {
    const EntryGuard guard("getModFlag");
    return 1;
}

void SAppModule::onPacket(uint32_t sid, IProtoPacket* packet) {
    const EntryGuard guard("onPacket");
    // dispatch ignores a null packet.
    if (SAppContext* context = findSession(sid)) context->protoHandler()->dispatch(packet);
}

void SAppModule::onRequest(uint32_t sid, const AppRequest* request) {
    const EntryGuard guard("onRequest");
    if (SAppContext* context = findSession(sid)) context->reqHandler()->dispatch(request);
}

void SAppModule::onReserved(uint32_t, const void*) { const EntryGuard guard("onReserved"); }

void SAppModule::onLeave(uint32_t sid) {
    const EntryGuard guard("onLeave");
    SAPP_LOG("SAppModule::onLeave, sid=", sid);
    delSession(sid);
}

void SAppModule::addSession(ISession* session) {
    if (!session) return;
    SAPP_LOG("SAppModule::addSession, sid=", session->getSid());
    const uint32_t sid = session->getSid();
    if (sid == 0 || sid == kInvalidSid) return;
    if (m_sessions.count(sid)) {
        // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
        SAPP_LOG("SAppModule::addSession, session already exist, sid=", sid);
        return;
    }
    // The entry first, then the context built into it: no context ever
    // exists outside the registry, where only its destructor would be left
    // to let go of it, and destructors call no host.
    const auto entry = m_sessions.try_emplace(sid).first;
    try {
        entry->second = std::make_unique<SAppContext>(session, [this](uint32_t sid, uint32_t asid) { rebind(sid, asid); });
    } catch (...) {
        forgetRecent();
        m_sessions.erase(entry);
        throw;
    }
}

void SAppModule::delSession(uint32_t sid) {
    SAPP_LOG("SAppModule::delSession, sid=", sid);
    const auto it = m_sessions.find(sid);
    if (it == m_sessions.end()) {
        // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
        SAPP_LOG("SAppModule::delSession, dession doesn't exist, sid=", sid);
        return;
    }
    closeAndErase(it);
}

// The registry's nodes are re-keyed, not their contexts moved: the entry
// of `asid` becomes the entry of `sid` with the same owning pointer, and
// nothing is allocated, so nothing here can throw before the re-key is
// complete.
//
// Ownership choice: if `sid` already had a context, that context is closed
// rather than leaked when the moved one takes its place, after the re-key,
// so an exception from its teardown leaves the registry as the rebind made
// it. The closed context is kept until the next rebind or the module's end
// rather than freed here: the context whose event asked for the rebind may
// be the one displaced, and its call is still running.
void SAppModule::rebind(uint32_t sid, uint32_t asid) {
    SAPP_LOG("SAppModule::rebind, sid/asid=", sid, asid);
    const auto it = m_sessions.find(asid);
    if (it == m_sessions.end() || sid == asid) return;
    // The context retired by the previous rebind has no call running: it is
    // out of the registry and closed, so the host no longer calls it.
    m_retired.reset();
    forgetRecent();
    Sessions::node_type displaced = m_sessions.extract(sid);
    Sessions::node_type moved = m_sessions.extract(it);
    moved.key() = sid;
    m_sessions.insert(std::move(moved));
    if (!displaced) return;
    m_retired = std::move(displaced.mapped());
    m_retired->close();
}

extern "C" SAPP_API ISessionMod* getModule(ISession* session) {
    const EntryGuard guard("getModule");
    return SAppModule::getInstance(session);
}

extern "C" SAPP_API void releaseModule(uint32_t sid) {
    const EntryGuard guard("releaseModule");
    SAppModule::release(sid);
}
