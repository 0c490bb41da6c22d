#include "handlers/SAppQuery.h"

#include <cassert>

#include "host/ISession.h"
#include "host/Pktcore.h"
#include "protocol/SessionRecords.h"
#include "support/SAppDCHelper.h"
#include "support/SAppLog.h"
#include "support/SessionLink.h"
#include "support/Teardown.h"

namespace {

// Attempts are counted from 1 (m_retryCount after its increment): attempts 1
// and 2 send the request, from attempt 3 on the query has given up and only
// logs.
constexpr uint32_t kGiveUpAtAttempt = 3;

}  // namespace

SAppQuery::SAppQuery(const SessionLink& session, SAppDCHelper& channel)
    : m_session(session), m_channel(channel), m_queryAppsTimer(this, &SAppQuery::query, "m_queryAppsTimer") {
    m_queryAppsTimer.setRepeat(true);
}

SAppQuery::~SAppQuery() { assert(m_closed && "the query is closed before it is destroyed"); }

// Whether removeTask returns or throws, the timer is the host's to forget:
// the query does not ask again. But a queue must be asked: when the session
// cannot give its queue, the timer may still be queued where start put it,
// and a queue that ran it after the query is gone would run freed memory.
// A query never started has nothing queued.
void SAppQuery::close(Teardown& teardown) {
    m_closed = true;
    IProtoTaskQueue* queue = m_pQueue;
    teardown.step([&] { queue = m_session.session()->getTaskQueue(); });
    if (queue) teardown.step([&] { queue->removeTask(&m_queryAppsTimer); });
}

void SAppQuery::start() {
    query();
    m_pQueue = m_session.session()->getTaskQueue();
    m_pQueue->addTask(&m_queryAppsTimer, kRetryIntervalMs);
}

void SAppQuery::query() {
    SAPP_LOG("SAppQuery::query, retry=", m_retryCount);
    ++m_retryCount;
    if (m_retryCount >= kGiveUpAtAttempt) {
        // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
        SAPP_LOG("SAppQuery::query, reach max retry.");
        return;
    }
    protocol::session::PGetAppsReq request;
    const ProtoUInfo& user = m_session.userInfo();
    request.uid = ProtoHelper::getUid32(user.getUid());
    request.sid = user.getSid();
    request.sGroupId = m_channel.getSGroupId();
    m_session.send(protocol::session::URI_GET_APPS_REQ, request);
}

void SAppQuery::onResult() {
    SAPP_LOG("SAppQuery::onResult");
    stop();
}

void SAppQuery::stop() { m_session.session()->getTaskQueue()->removeTask(&m_queryAppsTimer); }
