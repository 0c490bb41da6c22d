// Timer tasks and the per-session task queue.
#pragma once

#include <cstdint>

// A task run by the host's task queue. Implemented by the module; the queue
// only borrows it, from addTask until removeTask, and never deletes it.
// Slot order (MSVC numbering; Itanium: one more from run on): 0 destructor,
// 1 run, 2 setRepeat, 3 isRepeat.
class IProtoTask {
public:
    virtual ~IProtoTask() = default;
    virtual void run() = 0;
    virtual void setRepeat(bool repeat) = 0;
    virtual bool isRepeat() = 0;
};

// The session's timer queue. addTask runs the task each time `interval` ms
// elapse until removeTask; removing a task that is not queued does nothing.
// The queue never takes ownership. Slot order (MSVC numbering; Itanium: one
// more from addTask on): 0 destructor, 1 addTask, 2 removeTask.
class IProtoTaskQueue {
public:
    virtual ~IProtoTaskQueue() = default;
    virtual void addTask(IProtoTask* task, uint32_t interval) = 0;
    virtual void removeTask(IProtoTask* task) = 0;
};
