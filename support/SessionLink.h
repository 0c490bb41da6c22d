// What a session's parts need of their session, and nothing more.
//
// The app manager and the app-list query send requests to the server, read
// the user's current info and reach the host session (its task queue, the
// client's event sink) through a SessionLink. The per-session hub in
// module/ owns the link and hands it to the parts it builds; the parts
// never see the hub, so the dependencies run one way: module/ builds
// appmgr/ and handlers/, never the reverse. A plain class, not an
// interface: the uplink sends through it once per proxy, and a direct call
// costs less than a virtual one.
#pragma once

#include <cstdint>

#include "host/ISession.h"

class ProtoUInfo;

class SessionLink {
public:
    explicit SessionLink(ISession* session) : m_pSession(session) {}
    SessionLink(const SessionLink&) = delete;
    SessionLink& operator=(const SessionLink&) = delete;

    // The host session the parts belong to.
    ISession* session() const { return m_pSession; }
    // The user's info as the session's events last reported it. Its owner
    // gives it (setUserInfo) before any part runs.
    const ProtoUInfo& userInfo() const { return *m_pUserInfo; }
    void setUserInfo(const ProtoUInfo* user) { m_pUserInfo = user; }
    // Hands `body` to the host under `uri` as a SessionRequest of type 100.
    void send(uint32_t uri, const pakt::Marshallable& body) const { send(request(uri, body)); }
    // The same in two steps, for a body sent several times (once per proxy
    // of an app, changed in between): the request is made once.
    static SessionRequest request(uint32_t uri, const pakt::Marshallable& body) {
        SessionRequest request;
        request.type = 100;
        request.uri = uri;
        request.body = &body;
        return request;
    }
    void send(const SessionRequest& request) const { m_pSession->sendRequest(request); }

private:
    ISession* m_pSession;
    const ProtoUInfo* m_pUserInfo = nullptr;
};
