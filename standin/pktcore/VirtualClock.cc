#include "standin/pktcore/VirtualClock.h"

#include <algorithm>
#include <stdexcept>

#include "host/Pktcore.h"
#include "standin/pktcore/StandinSession.h"

namespace standin {

VirtualClock& VirtualClock::instance() {
    // Never destroyed: sessions may outlive static destruction order.
    static VirtualClock* const clock = new VirtualClock;
    return *clock;
}

std::vector<VirtualClock::Scheduled>::iterator VirtualClock::find(const TaskQueue* queue, const IProtoTask* task) {
    return std::find_if(m_scheduled.begin(), m_scheduled.end(),
                        [&](const Scheduled& e) { return e.queue == queue && e.task == task; });
}

void VirtualClock::add(TaskQueue* queue, Session* owner, IProtoTask* task, uint32_t interval) {
    remove(queue, task);
    const uint64_t step = std::max<uint64_t>(interval, 1);
    m_scheduled.push_back(Scheduled{queue, owner, task, step, m_now + step, m_nextOrder++});
}

void VirtualClock::remove(const TaskQueue* queue, const IProtoTask* task) {
    const auto it = find(queue, task);
    if (it != m_scheduled.end()) m_scheduled.erase(it);
}

void VirtualClock::removeAll(const TaskQueue* queue) {
    std::erase_if(m_scheduled, [&](const Scheduled& e) { return e.queue == queue; });
}

bool VirtualClock::isQueued(const TaskQueue* queue, const IProtoTask* task) const {
    return std::any_of(m_scheduled.begin(), m_scheduled.end(),
                       [&](const Scheduled& e) { return e.queue == queue && e.task == task; });
}

std::size_t VirtualClock::queuedCount(const TaskQueue* queue) const {
    return static_cast<std::size_t>(
        std::count_if(m_scheduled.begin(), m_scheduled.end(), [&](const Scheduled& e) { return e.queue == queue; }));
}

VirtualClock::Scheduled* VirtualClock::nextDue(uint64_t limit) {
    Scheduled* next = nullptr;
    for (Scheduled& e : m_scheduled) {
        if (e.due > limit) continue;
        if (!next || e.due < next->due || (e.due == next->due && e.order < next->order)) next = &e;
    }
    return next;
}

void VirtualClock::advance(uint64_t ms) {
    if (m_advancing) throw std::logic_error("advanceClock called from inside a task");
    struct Guard {
        bool& flag;
        explicit Guard(bool& f) : flag(f) { flag = true; }
        ~Guard() { flag = false; }
    } guard(m_advancing);

    const uint64_t target = m_now + ms;
    // Look the next task up afresh after every run: a run may add or remove
    // tasks, its own included.
    while (Scheduled* next = nextDue(target)) {
        m_now = next->due;
        next->due += next->interval;
        Session* owner = next->owner;
        IProtoTask* task = next->task;
        if (!task->isRepeat()) remove(next->queue, task);  // a run may queue it again
        owner->record(TaskCall{TaskCall::Op::Run, task, 0});
        task->run();
    }
    m_now = target;
}

void VirtualClock::reset() {
    if (!m_scheduled.empty()) throw std::logic_error("resetClock called while tasks are queued");
    m_now = 0;
}

uint64_t clockNow() { return VirtualClock::instance().now(); }

void advanceClock(uint64_t ms) { VirtualClock::instance().advance(ms); }

void resetClock() { VirtualClock::instance().reset(); }

}  // namespace standin

uint32_t ProtoTime::currentSystemTime() {
    standin::enterHostCall(standin::HostCall::CurrentSystemTime);
    return static_cast<uint32_t>(standin::VirtualClock::instance().now());
}
