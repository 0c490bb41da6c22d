// One log line being composed.
//
// A LogLine takes the sink when it starts (asking the host for one while it
// has none) and decides then whether its level is enabled; a disabled line
// converts and formats nothing. Text lives in a 512-character inline buffer
// and moves to a heap block only when it grows beyond 511 characters.
// finish() hands the line to the sink (if its level is still enabled) or to
// DoLog2 (always, when there is no sink). Whoever starts a line finishes it
// once, also when an exception leaves the composing: SAPP_LOG and PLOG do
// (writeLine in SAppLog.cc).
//
// A log call of the host that throws (GetLogInstance, isLevelEnabled,
// IsLogLevelEnabled, write, DoLog2) costs the line and nothing else: its
// exception is dropped and the line makes no further host call. A log line
// arrives in the middle of whatever the module is doing for the host, a
// registry change half applied among them; giving that up for a diagnostic
// line would be the worse failure (docs/integration.md, "When a host call
// throws").
//
// A line whose level is disabled needs nothing of a LogLine but its start
// and its finish: LogLine::startOrFinish asks the host as a line's start
// does and, for a disabled line, as its finish does, and the rare disabled
// line that still goes to the host is handed over empty, as a LogLine that
// composed nothing would be: the same host calls in the same order.
// SAPP_LOG and PLOG build a LogLine only for an enabled line (one per app
// of an app list, with the log off, cost the module 97 instructions, now
// 36, beside the host's two answers).
//
// The destructor frees the heap block and nothing else. No destructor of the
// module calls the host: an exception that left one would end the process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/Tarnbase.h"

namespace sapp {

class LogLine {
public:
    static constexpr uint16_t kLevel = 1;  // the level of every line

    // Where a line stands with the host.
    enum class Phase : uint8_t {
        closed,    // the host failed: the line makes no further call
        disabled,  // started with its level disabled: its finish asks again
        enabled,   // started with its level enabled: composed, then finished
        done,      // disabled, and asked again: nothing goes to the host
        handOver,  // disabled, and asked again: the empty line goes to the host
    };
    // What a line learns from the host when it starts.
    struct Start {
        LogExport* sink = nullptr;  // null: the line goes to DoLog2
        Phase phase = Phase::closed;
    };
    // Takes the sink (asking the host for one while there is none) and asks
    // whether the level is enabled. Throws only std::bad_alloc (the first
    // line's sink cell), before any host call.
    static Start start();
    // Starts a line as start() does. A disabled line it finishes as finish()
    // would, up to the hand-over: the sink is asked again, and the empty
    // line is to go to the host (Phase::handOver) when the level came on, or when
    // there is no sink (DoLog2 takes every line). Inline for the usual line,
    // whose sink is known.
    static Start startOrFinish() {
        LogExport* const sink = s_sinkCell ? *s_sinkCell : nullptr;
        if (!sink) return startOrFinishFirst();
        try {
            if (sink->isLevelEnabled(kLevel)) return {sink, Phase::enabled};
            return {sink, sink->isLevelEnabled(kLevel) ? Phase::handOver : Phase::done};
        } catch (...) {
            // The host's log failed: the line is dropped (asked first) or
            // lost (asked again), and makes no further call.
            return {sink, Phase::closed};
        }
    }
    // The hand-over of a disabled line (Phase::handOver): the empty line.
    static void handOverUnwritten(Start start, const char* file, uint16_t line, const char* macro) noexcept;

    // Starts the line. Throws only std::bad_alloc, as start() does.
    LogLine(const char* file, uint16_t line, const char* macro) : LogLine(start(), file, line, macro) {}
    // A line whose start is `start`.
    LogLine(const Start& start, const char* file, uint16_t line, const char* macro);
    ~LogLine();
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    // Appends narrow text (converted from the host's code page).
    void appendText(const char* text, std::size_t n);
    void appendNumber(uint32_t value);
    void appendNumber(uint64_t value);
    // Hands the line to the host, the first time only, unless the host
    // failed while it started.
    void finish() noexcept;

    const wchar_t* text() const { return m_pText; }
    uint32_t length() const { return m_length; }
    uint32_t capacity() const { return m_capacity; }
    bool enabled() const { return m_enabled; }

private:
    // startOrFinish while there is no sink: the first line, or a host
    // without a log file.
    static Start startOrFinishFirst();
    // The process-wide sink cell: allocated on the first line and never
    // freed. While it holds null, every line asks the host again.
    static LogExport** s_sinkCell;

    static constexpr uint32_t kInlineSize = 512;
    static constexpr uint32_t kNumberRoom = 32;

    void reserve(uint32_t more);
    template <typename T>
    void appendFormatted(T value);

    wchar_t m_inline[kInlineSize];
    wchar_t* m_pText;
    uint32_t m_length = 0;
    uint32_t m_capacity = kInlineSize - 1;
    const char* m_pFile;
    uint16_t m_line;
    const char* m_pMacro;
    bool m_enabled;
    LogExport* m_pSink;
    bool m_open;  // started and not finished: finish() goes to the host
};

}  // namespace sapp
