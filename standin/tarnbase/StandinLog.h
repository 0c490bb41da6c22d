// Control and inspection of the stand-in base library's log sink, for tests
// and tools. Not part of the real host's interface.
//
// Every line handed to LogExport::write or to DoLog2 is recorded whole, in
// call order: passed to the observer if one is set, and kept (logRecords)
// only while none is. Each of the five
// log calls can be made to fail with a HostFault (HostFaults.h); a failing
// one records nothing. Lines are recorded
// whether or not their level is enabled: deciding that is the caller's job.
// All functions may be called from any thread; the observer runs on the
// logging thread, outside the library's lock, so it may call back in.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/HostApi.h"

namespace standin {

struct LogRecord {
    unsigned short level = 0;
    std::string category;
    std::string file;
    unsigned short line = 0;
    std::string macro;
    std::wstring text;
    std::string module;
    bool viaSink = true;  // false: the line went to DoLog2
};

// true (default): GetLogInstance returns the sink; false: it returns null.
// A caller that already holds the sink keeps using it.
TARNBASE_API void setLogSinkAvailable(bool available);
// The answer of LogExport::isLevelEnabled and IsLogLevelEnabled (default true).
TARNBASE_API void setLogLevelEnabled(bool enabled);
TARNBASE_API std::vector<LogRecord> logRecords();
TARNBASE_API void clearLogRecords();
// How often GetLogInstance has been called since the last reset.
TARNBASE_API unsigned getLogInstanceCalls();
// The log file name of the last GetLogInstance call, empty before the first
// one (or when it was null).
TARNBASE_API std::wstring lastLogInstanceName();
TARNBASE_API void setLogObserver(std::function<void(const LogRecord&)> observer);
// Back to the defaults: sink available, levels enabled, no records, no
// observer, call count 0, no last name.
TARNBASE_API void resetLog();

}  // namespace standin
