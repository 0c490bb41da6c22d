// The stand-in host session, task queue, virtual clock and packets, for tests
// and tools. Not part of the real host's interface.
//
// A Session records, in call order, every effect the module has on it:
// requests sent (the body's marshalled bytes, taken at send time since the
// record dies after the call), client events posted (deep copies), task-queue
// calls and task runs, and watcher registrations. The clock is virtual: it
// only moves when advanceClock is called, which runs due tasks of every
// session in time order.
//
// A test can make the session's calls fail (setFault), and a packet's: the
// call then throws a HostFault, as a faulty host would (HostFaults.h), and
// the session records a FaultCall. A failing getSid, getTaskQueue,
// sendRequest, postAppEvent, addWatcher or addTask has no effect. A failing
// removeWatcher or removeTask removes first and throws afterwards: the
// module lets go of its watcher and task whether or not the call returns,
// so a host must forget them in any case (docs/integration.md).
//
// Sessions, queues and the clock are not thread-safe: like the module, they
// expect their calls one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "host/IProtoPacket.h"
#include "host/ISession.h"
#include "host/HostApi.h"
#include "standin/tarnbase/HostFaults.h"

namespace standin {

struct SentRequest {
    int32_t type = 0;
    std::string extra;
    uint32_t uri = 0;
    std::string body;  // the record's marshalled bytes
};

// A deep copy of a posted client event. `record` has the dynamic type of the
// event code (AppDataEvent for 1035, ...); unknown codes keep the head only.
struct PostedEvent {
    uint32_t type = 0;
    std::shared_ptr<const AppEvent> record;
    template <typename T>
    const T& as() const {
        return static_cast<const T&>(*record);
    }
};

struct TaskCall {
    enum class Op { Add, Remove, Run };
    Op op = Op::Add;
    IProtoTask* task = nullptr;
    uint32_t interval = 0;  // Add only
};

struct WatchCall {
    enum class Op { Add, Remove };
    Op op = Op::Add;
    protocol::session::ISessionWatcher* watcher = nullptr;
};

// A call that failed because a test asked it to.
struct FaultCall {
    HostCall call = HostCall::SendRequest;
};

using Entry = std::variant<SentRequest, PostedEvent, TaskCall, WatchCall, FaultCall>;

class Session;

// The task queue of one session. A queued task runs when its interval
// elapses on the virtual clock (an interval of 0 counts as 1 ms), and again
// each interval while its isRepeat answers true; a task that does not repeat
// leaves the queue as its run starts. Adding a
// task that is already queued reschedules it with the new interval from now;
// removing a task that is not queued does nothing. Every addTask and
// removeTask call is recorded on the owning session, also those that change
// nothing. Destroying the queue unqueues its tasks without recording.
class PKTCORE_API TaskQueue : public IProtoTaskQueue {
public:
    explicit TaskQueue(Session& owner);
    ~TaskQueue() override;
    void addTask(IProtoTask* task, uint32_t interval) override;
    void removeTask(IProtoTask* task) override;
    bool isQueued(IProtoTask* task) const;
    // How many of its tasks are queued.
    std::size_t queuedCount() const;

private:
    Session& m_owner;
};

class PKTCORE_API Session : public ISession {
public:
    explicit Session(uint32_t sid);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // ISession
    uint32_t getSid() override;
    void sendRequest(const SessionRequest& request) override;
    void postAppEvent(const AppEvent& event) override;
    IProtoTaskQueue* getTaskQueue() override;
    void addWatcher(protocol::session::ISessionWatcher* watcher) override;
    void removeWatcher(protocol::session::ISessionWatcher* watcher) override;

    // The queue getTaskQueue hands out.
    TaskQueue& taskQueue();

    // Makes `call`, one of the session's or its queue's (hostCallOwner
    // Session), fail as `mode` says; other calls throw std::invalid_argument.
    void setFault(HostCall call, FaultMode mode);
    // Records a FaultCall and throws HostFault when `call` is to fail now:
    // by the session's switch or by the process's watch (HostFaults.h).
    void failIfAsked(HostCall call);

    // What getSid answers from now on.
    void setSid(uint32_t sid);
    // Delivers an event to every registered watcher, in registration order.
    // A watcher removed during the delivery gets no further call of it.
    void deliverEvent(const protocol::session::SessionEvent& event);
    std::size_t watcherCount() const;

    const std::vector<Entry>& entries() const;
    std::vector<SentRequest> requests() const;
    std::vector<PostedEvent> events() const;
    std::vector<TaskCall> taskCalls() const;
    std::vector<WatchCall> watchCalls() const;
    void clearEntries();
    // Called with every entry as it is recorded. While an observer is set,
    // entries go to it and are not kept: entries() holds only those
    // recorded with none set.
    void setObserver(std::function<void(const Entry&)> observer);

    // Used by TaskQueue.
    void record(Entry entry);

private:
    uint32_t m_sid;
    TaskQueue m_queue;
    std::vector<protocol::session::ISessionWatcher*> m_watchers;
    std::vector<Entry> m_entries;
    std::function<void(const Entry&)> m_observer;
    FaultSwitch m_faults[kHostCallCount];
};

// The virtual clock in ms (ProtoTime::currentSystemTime answers its low 32
// bits).
PKTCORE_API uint64_t clockNow();
// Moves the clock on by `ms`, running every task that falls due on the way,
// in time order (tasks due at the same time in the order they were queued).
// The clock reads each task's due time while it runs. A task removed on the
// way, also by another task, does not run again. Each run is recorded on the
// owning session just before it starts. An exception from a task stops the
// advance there and propagates. Calling it from inside a task throws
// std::logic_error.
PKTCORE_API void advanceClock(uint64_t ms);
// Clock back to 0; only allowed while no task is queued (otherwise throws
// std::logic_error).
PKTCORE_API void resetClock();

// The host's unzip limit: the largest length ProtoHelper::UnZipString
// inflates a field to. A field that claims more is refused (an empty string)
// before any byte is inflated. The default follows common practice for one
// message (gRPC's default receive limit is 4 MiB).
inline constexpr uint32_t kDefaultUnzipLimit = 4u * 1024 * 1024;
PKTCORE_API void setUnzipLimit(uint32_t bytes);
PKTCORE_API uint32_t unzipLimit();
// What ProtoHelper::UnZipString answers, for the host's own use: not a host
// call, so it never fails on a fault switch (tools that show what the
// module is given use it).
PKTCORE_API std::string unzipString(const std::string& data, unsigned int unzippedLength);
// The bytes ProtoHelper::UnZipString has handed the module in all, since the
// process started: what the module was given to read, for the fuzz targets'
// cost per byte.
PKTCORE_API uint64_t inflatedBytes();

// An inbound packet made from its URI, result code and body bytes.
// ProtoPacketPool makes these: newPacket(uri, body, length, resCode) from the
// body bytes; newPacket(frame, length, resCode) from a frame of a u32
// little-endian URI followed by the body (null when shorter than 4 bytes);
// newPacket(uri, record) from the record's marshalled bytes with result code
// 200. freePacket deletes a packet the pool made.
class PKTCORE_API Packet : public IProtoPacket {
public:
    Packet(uint32_t uri, uint32_t resCode, std::string body);
    uint32_t getUri() override;
    int32_t getBodyLen() override;
    uint32_t getResCode() override;
    const char* getBody() override;
    // Runs the record's unmarshal over the whole body; bytes left over are
    // ignored, pakt::UnpackError propagates.
    void unmarshal(pakt::Marshallable& record) override;

    // Makes `call`, one of the packet's (hostCallOwner Packet), fail as
    // `mode` says; other calls throw std::invalid_argument. A failing call
    // reads nothing and calls the fault observer before it throws.
    void setFault(HostCall call, FaultMode mode);
    void setFaultObserver(std::function<void(HostCall)> observer);

private:
    void failIfAsked(HostCall call);

    uint32_t m_uri;
    uint32_t m_resCode;
    std::string m_body;
    FaultSwitch m_faults[kHostCallCount];
    std::function<void(HostCall)> m_onFault;
};

}  // namespace standin
