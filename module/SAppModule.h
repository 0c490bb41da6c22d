// The module singleton and its session registry.
//
// The registry maps a session id to the session's context and owns the
// contexts. Each host call names a session id and is routed to that
// session's context; unknown ids are ignored. The singleton exists from the
// first getModule until releaseModule empties the registry.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "module/ISessionMod.h"

class SAppContext;
class Teardown;

class SAppModule : public ISessionMod {
public:
    // The singleton, created on first use; adds `session` to its registry.
    static SAppModule* getInstance(ISession* session);
    // Drops the registry entry of `sid` (closing its context if onLeave did
    // not); destroys the singleton when the registry is then empty.
    static void release(uint32_t sid);

    ~SAppModule() override;

    uint32_t getUriCount() override;
    void getUris(uint32_t* out) override;
    uint32_t getReqTypeCount() override;
    void getReqTypes(uint32_t* out) override;
    int32_t getModFlag() override;
    void onPacket(uint32_t sid, IProtoPacket* packet) override;
    void onRequest(uint32_t sid, const AppRequest* request) override;
    void onReserved(uint32_t sid, const void* data) override;
    void onLeave(uint32_t sid) override;

    void addSession(ISession* session);
    // Closes and forgets the context of `sid`. The entry is gone also when
    // the context's teardown throws (the exception then leaves).
    void delSession(uint32_t sid);
    // Moves the context registered under `asid` to `sid`, closing the one it
    // displaces. Each context asks for this through the callback the module
    // gives it when the session's asid changes.
    void rebind(uint32_t sid, uint32_t asid);

    // The context registered under `sid`, or null. The context found last
    // is found again without a search: a host calls for one session many
    // times in a row.
    SAppContext* findSession(uint32_t sid) const;

private:
    using Sessions = std::map<uint32_t, std::unique_ptr<SAppContext>>;

    SAppModule() = default;
    void closeAndErase(Sessions::iterator entry);
    // delSession without its log lines, for release.
    void delSessionQuietly(uint32_t sid);
    // Closes every context left and logs the singleton's last lines.
    void shutdown(Teardown& teardown);
    // The context of the lowest session id, which answers the table
    // questions (every context builds the same tables); null when empty.
    SAppContext* firstSession() const;

    // Every change of the registry's entries forgets the context found last.
    void forgetRecent() { m_recent = nullptr; }

    Sessions m_sessions;
    // The context findSession found last and its sid; null when none, or
    // when the registry changed since.
    mutable SAppContext* m_recent = nullptr;
    mutable uint32_t m_recentSid = 0;
    // The context the last rebind displaced, closed; freed by the next
    // rebind or with the module (see rebind).
    std::unique_ptr<SAppContext> m_retired;
};
