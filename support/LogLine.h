// One log line: its start and finish with the host, and its composing.
//
// A line starts by taking the sink (asking the host for one while it has
// none) and asking whether its level is enabled (LogLine::startOrFinish).
// Only an enabled line is composed, in a LogLine: its text lives in a
// 512-character inline buffer and moves to a heap block only when it grows
// beyond 511 characters, and finish() hands it to the sink if its level is
// still enabled, or to DoLog2 when there is no sink. A disabled line needs
// no LogLine: startOrFinish asks the sink again at once, as the line's
// finish would, and the rare disabled line that still goes to the host (the
// level came on in between, or there is no sink and DoLog2 takes every
// line) is handed over empty (handOverUnwritten): the same host calls, in
// the same order, as a line that composed nothing. Whoever starts a line
// finishes it once, also when an exception leaves the composing: SAPP_LOG
// and PLOG do (writeLine in SAppLog.cc). A disabled line, one per app of an
// app list with the log off, costs the module 36 instructions beside the
// host's two answers (97 while every line was a LogLine).
//
// A log call of the host that throws (GetLogInstance, isLevelEnabled,
// IsLogLevelEnabled, write, DoLog2) costs the line and nothing else: its
// exception is dropped and the line makes no further host call. A log line
// arrives in the middle of whatever the module is doing for the host, a
// registry change half applied among them; giving that up for a diagnostic
// line would be the worse failure (docs/integration.md, "When a host call
// throws").
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

    // Where a line stands with the host once started.
    enum class Phase : uint8_t {
        closed,    // the host failed: the line makes no further call
        enabled,   // its level is enabled: composed, then finished
        done,      // disabled, and asked again: nothing goes to the host
        handOver,  // disabled, and asked again: the empty line goes to the host
    };
    struct Start {
        LogExport* sink = nullptr;  // null: the line goes to DoLog2
        Phase phase = Phase::closed;
    };
    // Starts a line: takes the sink and asks whether the level is enabled;
    // a disabled line it finishes as finish() would, up to the hand-over:
    // the sink is asked again, and the empty line is to go to the host
    // (Phase::handOver) when the level came on, or when there is no sink.
    // Throws only std::bad_alloc (the first line's sink cell), before any
    // host call. Inline for the usual line, whose sink is known.
    static Start startOrFinish() {
        LogExport* const sink = s_sinkCell ? *s_sinkCell : nullptr;
        return sink ? startOrFinish(sink) : startOrFinishFirst();
    }
    // The hand-over of a disabled line (Phase::handOver): the empty line.
    static void handOverUnwritten(Start start, const char* file, uint16_t line, const char* macro) noexcept;

    // A line whose start is `start`: composed and finished if its level is
    // enabled, closed otherwise (a disabled line is finished by startOrFinish).
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
    // startOrFinish with the sink known.
    static Start startOrFinish(LogExport* sink) noexcept {
        try {
            if (sink->isLevelEnabled(kLevel)) return {sink, Phase::enabled};
            return {sink, sink->isLevelEnabled(kLevel) ? Phase::handOver : Phase::done};
        } catch (...) {
            // The host's log failed: the line is dropped (asked first) or
            // lost (asked again), and makes no further call.
            return {sink, Phase::closed};
        }
    }
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
