#include "support/SessionLink.h"

#include "host/ISession.h"

void SessionLink::send(uint32_t uri, const pakt::Marshallable& body) const {
    SessionRequest request;
    request.type = 100;
    request.uri = uri;
    request.body = &body;
    m_pSession->sendRequest(request);
}
