// The process-wide virtual clock and the schedule of every session's queued
// tasks. Internal to the stand-in protocol library; TaskQueue and the
// exported clock functions are its only users.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class IProtoTask;

namespace standin {

class Session;
class TaskQueue;

class VirtualClock {
public:
    static VirtualClock& instance();

    uint64_t now() const { return m_now; }

    // Queues `task` of `queue` to run `interval` ms from now, and every
    // `interval` ms after while it repeats, replacing an entry it already has.
    void add(TaskQueue* queue, Session* owner, IProtoTask* task, uint32_t interval);
    void remove(const TaskQueue* queue, const IProtoTask* task);
    void removeAll(const TaskQueue* queue);
    bool isQueued(const TaskQueue* queue, const IProtoTask* task) const;
    std::size_t queuedCount(const TaskQueue* queue) const;

    void advance(uint64_t ms);
    void reset();

private:
    struct Scheduled {
        const TaskQueue* queue;
        Session* owner;
        IProtoTask* task;
        uint64_t interval;
        uint64_t due;
        uint64_t order;  // ties at the same due time run in queueing order
    };

    VirtualClock() = default;
    std::vector<Scheduled>::iterator find(const TaskQueue* queue, const IProtoTask* task);
    // The queued entry that falls due first, if it is due by `limit`.
    Scheduled* nextDue(uint64_t limit);

    std::vector<Scheduled> m_scheduled;
    uint64_t m_now = 0;
    uint64_t m_nextOrder = 0;
    bool m_advancing = false;
};

}  // namespace standin
