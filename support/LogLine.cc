#include "support/LogLine.h"

#include <cstring>

#include "host/Tarnbase.h"
#include "support/Platform.h"

namespace sapp {
namespace {

constexpr const wchar_t* kLogFileName = L"vessaprotocol.lg";
constexpr const char* kCategory = "ProtocolSession";
constexpr uint16_t kLevel = 1;

// The process-wide sink cell: allocated on the first line and never freed.
// While it holds null, every line asks the host again.
LogExport** g_sinkCell = nullptr;

LogExport** sinkCell() {
    if (!g_sinkCell) g_sinkCell = new LogExport*(nullptr);
    return g_sinkCell;
}

}  // namespace

LogLine::LogLine(const char* file, uint16_t line, const char* macro)
    : m_pText(m_inline),
      m_pCategory(kCategory),
      m_level(kLevel),
      m_pFile(file),
      m_line(line),
      m_pMacro(macro) {
    m_inline[0] = L'\0';
    LogExport** cell = sinkCell();
    try {
        if (!*cell) *cell = GetLogInstance(kLogFileName);
        m_pSink = *cell;
        m_enabled = m_pSink ? m_pSink->isLevelEnabled(m_level) : IsLogLevelEnabled(m_level);
        m_open = true;
    } catch (...) {
        // The host's log failed: the line is dropped, disabled and closed.
    }
}

LogLine::~LogLine() {
    if (m_pText != m_inline) delete[] m_pText;
}

void LogLine::finish() noexcept {
    if (!m_open) return;
    m_open = false;
    try {
        if (m_pSink) {
            if (m_pSink->isLevelEnabled(m_level)) {
                m_pSink->write(m_level, m_pCategory, m_pFile, m_line, m_pMacro, m_pText, platform::moduleFileName());
            }
        } else {
            DoLog2(m_level, m_pCategory, m_pFile, m_line, m_pMacro, m_pText, platform::moduleFileName());
        }
    } catch (...) {
        // The host's log failed: the line is lost, the caller goes on.
    }
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
