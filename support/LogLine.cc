#include "support/LogLine.h"

#include <cstring>

#include "host/Tarnbase.h"
#include "support/Platform.h"

namespace sapp {
namespace {

constexpr const wchar_t* kLogFileName = L"vessaprotocol.lg";
constexpr const char* kCategory = "ProtocolSession";
constexpr uint16_t kLevel = LogLine::kLevel;

// Hands a line whose level the sink said, a moment ago, is enabled to the
// sink, or any line to DoLog2 when there is no sink.
SAPP_NOINLINE void write(LogExport* sink, const char* file, uint16_t line, const char* macro,
                         const wchar_t* text) noexcept {
    try {
        if (sink) {
            sink->write(kLevel, kCategory, file, line, macro, text, platform::moduleFileName());
        } else {
            DoLog2(kLevel, kCategory, file, line, macro, text, platform::moduleFileName());
        }
    } catch (...) {
        // The host's log failed: the line is lost, the caller goes on.
    }
}

// A line's hand-over at its finish: to the sink if its level is still
// enabled, or to DoLog2 when there is no sink.
void handOver(LogExport* sink, const char* file, uint16_t line, const char* macro, const wchar_t* text) noexcept {
    try {
        if (sink && !sink->isLevelEnabled(kLevel)) return;
    } catch (...) {
        return;  // the line is lost, the caller goes on
    }
    write(sink, file, line, macro, text);
}

}  // namespace

LogExport** LogLine::s_sinkCell = nullptr;

LogLine::Start LogLine::startOrFinishFirst() {
    // The cell first: std::bad_alloc leaves before any host call.
    if (!s_sinkCell) s_sinkCell = new LogExport*(nullptr);
    try {
        // The cell holds no sink, or this would not be asked.
        LogExport* const sink = GetLogInstance(kLogFileName);
        *s_sinkCell = sink;
        if (sink) return startOrFinish(sink);
        // DoLog2 takes every line, of a disabled level too.
        return {nullptr, IsLogLevelEnabled(kLevel) ? Phase::enabled : Phase::handOver};
    } catch (...) {
        return {nullptr, Phase::closed};  // the host's log failed: the line is dropped
    }
}

void LogLine::handOverUnwritten(Start start, const char* file, uint16_t line, const char* macro) noexcept {
    write(start.sink, file, line, macro, L"");
}

LogLine::LogLine(const Start& start, const char* file, uint16_t line, const char* macro)
    : m_pText(m_inline),
      m_pFile(file),
      m_line(line),
      m_pMacro(macro),
      m_enabled(start.phase == Phase::enabled),
      m_pSink(start.sink),
      m_open(start.phase == Phase::enabled) {
    m_inline[0] = L'\0';
}

LogLine::~LogLine() {
    if (m_pText != m_inline) delete[] m_pText;
}

void LogLine::finish() noexcept {
    if (!m_open) return;
    m_open = false;
    handOver(m_pSink, m_pFile, m_line, m_pMacro, m_pText);
}

// Grows to 512 characters, or to the first doubling of 512 that holds the
// text, the new characters and the terminator.
void LogLine::reserve(uint32_t more) {
    if (m_length + more <= m_capacity) return;
    const uint64_t needed = uint64_t{m_length} + more + 1;
    uint64_t size = kInlineSize;
    while (size < needed) size *= 2;
    auto* block = new wchar_t[size];
    std::memcpy(block, m_pText, (m_length + 1) * sizeof(wchar_t));
    if (m_pText != m_inline) delete[] m_pText;
    m_pText = block;
    m_capacity = static_cast<uint32_t>(size - 1);
}

void LogLine::appendText(const char* text, std::size_t n) {
    if (!m_enabled) return;
    reserve(static_cast<uint32_t>(n));
    m_length += static_cast<uint32_t>(platform::narrowToWide(text, n, m_pText + m_length));
    m_pText[m_length] = L'\0';
}

template <typename T>
void LogLine::appendFormatted(T value) {
    if (!m_enabled) return;
    reserve(kNumberRoom);
    const int written = platform::formatUnsigned(m_pText + m_length, kNumberRoom, value);
    if (written > 0) m_length += static_cast<uint32_t>(written);
    m_pText[m_length] = L'\0';
}

void LogLine::appendNumber(uint32_t value) { appendFormatted(value); }
void LogLine::appendNumber(uint64_t value) { appendFormatted(value); }

}  // namespace sapp
