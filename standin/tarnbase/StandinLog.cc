// The stand-in log sink: one LogExport for every log file name, and the
// process-wide DoLog2, both recording into one in-memory list.

#include "standin/tarnbase/StandinLog.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "host/Tarnbase.h"
#include "standin/tarnbase/HostFaults.h"

namespace {

struct LogState {
    std::mutex mutex;
    bool sinkAvailable = true;
    // Read on every line the module starts and ends, so it is read without
    // the lock: a level check costs a host one load.
    std::atomic<bool> levelEnabled{true};
    unsigned instanceCalls = 0;
    std::wstring lastName;
    std::vector<standin::LogRecord> records;
    std::function<void(const standin::LogRecord&)> observer;
};

// Created on first use and never destroyed, so that lines logged while
// other libraries load or unload still find it.
LogState& state() {
    static LogState* const s = new LogState;
    return *s;
}

std::string narrow(const char* s) { return s ? std::string(s) : std::string(); }

void recordLine(unsigned short level, const char* category, const char* file, unsigned short line,
                const char* macro, const wchar_t* text, const char* module, bool viaSink) {
    standin::LogRecord record;
    record.level = level;
    record.category = narrow(category);
    record.file = narrow(file);
    record.line = line;
    record.macro = narrow(macro);
    record.text = text ? std::wstring(text) : std::wstring();
    record.module = narrow(module);
    record.viaSink = viaSink;

    std::function<void(const standin::LogRecord&)> observer;
    {
        std::lock_guard lock(state().mutex);
        observer = state().observer;
        if (!observer) state().records.push_back(record);
    }
    if (observer) observer(record);
}

bool levelEnabled() { return state().levelEnabled.load(std::memory_order_relaxed); }

}  // namespace

// Each of these is a host call that may be made to fail (HostFaults.h): a
// failing one records, counts and answers nothing.
using standin::enterHostCall;
using standin::HostCall;

bool LogExport::isLevelEnabled(unsigned short /*level*/) {
    enterHostCall(HostCall::IsLevelEnabled);
    return levelEnabled();
}

void LogExport::write(unsigned short level, const char* category, const char* file, unsigned short line,
                      const char* macro, const wchar_t* text, const char* module) {
    enterHostCall(HostCall::Write);
    recordLine(level, category, file, line, macro, text, module, true);
}

LogExport* GetLogInstance(const wchar_t* logFileName) {
    static LogExport sink;
    enterHostCall(HostCall::GetLogInstance);
    std::lock_guard lock(state().mutex);
    ++state().instanceCalls;
    state().lastName = logFileName ? std::wstring(logFileName) : std::wstring();
    return state().sinkAvailable ? &sink : nullptr;
}

bool IsLogLevelEnabled(unsigned short /*level*/) {
    enterHostCall(HostCall::IsLogLevelEnabled);
    return levelEnabled();
}

void DoLog2(unsigned short level, const char* category, const char* file, unsigned short line, const char* macro,
            const wchar_t* text, const char* module) {
    enterHostCall(HostCall::DoLog2);
    recordLine(level, category, file, line, macro, text, module, false);
}

namespace standin {

void setLogSinkAvailable(bool available) {
    std::lock_guard lock(state().mutex);
    state().sinkAvailable = available;
}

void setLogLevelEnabled(bool enabled) { state().levelEnabled.store(enabled, std::memory_order_relaxed); }

std::vector<LogRecord> logRecords() {
    std::lock_guard lock(state().mutex);
    return state().records;
}

void clearLogRecords() {
    std::lock_guard lock(state().mutex);
    state().records.clear();
}

unsigned getLogInstanceCalls() {
    std::lock_guard lock(state().mutex);
    return state().instanceCalls;
}

std::wstring lastLogInstanceName() {
    std::lock_guard lock(state().mutex);
    return state().lastName;
}

void setLogObserver(std::function<void(const LogRecord&)> observer) {
    std::lock_guard lock(state().mutex);
    state().observer = std::move(observer);
}

void resetLog() {
    // Declared before the lock so the old observer is destroyed after the
    // lock is released.
    std::function<void(const LogRecord&)> oldObserver;
    std::lock_guard lock(state().mutex);
    LogState& s = state();
    s.sinkAvailable = true;
    s.levelEnabled = true;
    s.instanceCalls = 0;
    s.lastName.clear();
    s.records.clear();
    oldObserver.swap(s.observer);
}

}  // namespace standin
