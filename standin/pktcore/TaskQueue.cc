#include "standin/pktcore/StandinSession.h"
#include "standin/pktcore/VirtualClock.h"

namespace standin {

TaskQueue::TaskQueue(Session& owner) : m_owner(owner) {}

TaskQueue::~TaskQueue() { VirtualClock::instance().removeAll(this); }

void TaskQueue::addTask(IProtoTask* task, uint32_t interval) {
    m_owner.failIfAsked(HostCall::AddTask);
    m_owner.record(TaskCall{TaskCall::Op::Add, task, interval});
    if (task) VirtualClock::instance().add(this, &m_owner, task, interval);
}

void TaskQueue::removeTask(IProtoTask* task) {
    m_owner.record(TaskCall{TaskCall::Op::Remove, task, 0});
    VirtualClock::instance().remove(this, task);
    m_owner.failIfAsked(HostCall::RemoveTask);
}

bool TaskQueue::isQueued(IProtoTask* task) const { return VirtualClock::instance().isQueued(this, task); }

std::size_t TaskQueue::queuedCount() const { return VirtualClock::instance().queuedCount(this); }

}  // namespace standin
