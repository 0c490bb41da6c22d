// The app-list query with its retry timer.
//
// start sends the app-list request at once and queues the retry timer with a
// 5000 ms interval; every timer run is another attempt. Attempts are counted
// over the whole life of the object and only the first two send a request;
// later runs only log. onResult (the server's app list arrived) and stop
// take the timer out of the queue; so does close, the query's last call to
// the host, which its owner makes before destroying it.
#pragma once

#include <cstdint>

#include "handlers/ProtoTimer.h"

class SAppDCHelper;
class SessionLink;
class Teardown;

class SAppQuery {
public:
    static constexpr uint32_t kRetryIntervalMs = 5000;

    // `channel` gives the sub-group id each request carries.
    SAppQuery(const SessionLink& session, SAppDCHelper& channel);
    // Calls no host: the owner closes the query first.
    ~SAppQuery();
    SAppQuery(const SAppQuery&) = delete;
    SAppQuery& operator=(const SAppQuery&) = delete;

    void start();
    void query();
    void onResult();
    void stop();
    // Removes the timer from the queue as a step of `teardown`: from the
    // session's queue, or, when the host cannot give that, from the queue
    // start added it to, so that no queue keeps a timer the query outlives.
    void close(Teardown& teardown);

private:
    const SessionLink& m_session;
    SAppDCHelper& m_channel;
    ProtoTimer<SAppQuery> m_queryAppsTimer;
    // The queue start last added the timer to; null before the first start.
    IProtoTaskQueue* m_pQueue = nullptr;
    uint32_t m_retryCount = 0;
    bool m_closed = false;
};
