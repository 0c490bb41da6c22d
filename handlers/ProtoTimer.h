// A task for the host's task queue that calls a member function.
//
// The queue only borrows the timer; its owner keeps it alive while it is
// queued. Each run calls the bound function, then records the time since the
// previous run (or construction) on the host's clock.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "host/Pktcore.h"
#include "host/ProtoTask.h"
#include "support/EntryGuard.h"

template <typename T>
class ProtoTimer : public IProtoTask {
public:
    using Function = void (T::*)();

    ProtoTimer(T* object, Function function, std::string name)
        : m_lastRunTime(ProtoTime::currentSystemTime()), m_pObj(object), m_pfn(function), m_name(std::move(name)) {}

    void run() override {
        const EntryGuard guard("IProtoTask::run");
        (m_pObj->*m_pfn)();
        const uint32_t now = ProtoTime::currentSystemTime();
        m_elapsed = now - m_lastRunTime;
        m_lastRunTime = now;
    }
    void setRepeat(bool repeat) override { m_bRepeat = repeat; }
    bool isRepeat() override { return m_bRepeat; }

    const std::string& name() const { return m_name; }
    uint32_t elapsed() const { return m_elapsed; }

private:
    uint32_t m_lastRunTime;
    uint32_t m_elapsed = 0;
    bool m_bRepeat = false;
    T* m_pObj;
    Function m_pfn;
    std::string m_name;
};
