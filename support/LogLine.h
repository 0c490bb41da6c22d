// One log line being composed.
//
// A LogLine takes the sink when it starts and decides then whether its level
// is enabled; a disabled line converts and formats nothing. Text lives in a
// 512-character inline buffer and moves to a heap block only when it grows
// beyond 511 characters. The destructor hands the line to the sink (if its
// level is still enabled) or to DoLog2 (always, when there is no sink), so a
// line is written even when an exception passes through its scope.
#pragma once

#include <cstddef>
#include <cstdint>

class LogExport;

namespace sapp {

class LogLine {
public:
    LogLine(const char* file, uint16_t line, const char* macro);
    ~LogLine();
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    // Appends narrow text (converted from the host's code page).
    void appendText(const char* text, std::size_t n);
    void appendNumber(uint32_t value);
    void appendNumber(uint64_t value);

    const wchar_t* text() const { return m_pText; }
    uint32_t length() const { return m_length; }
    uint32_t capacity() const { return m_capacity; }
    bool enabled() const { return m_enabled; }

private:
    static constexpr uint32_t kInlineSize = 512;
    static constexpr uint32_t kNumberRoom = 32;

    void reserve(uint32_t more);
    template <typename T>
    void appendFormatted(T value);

    wchar_t m_inline[kInlineSize];
    wchar_t* m_pText;
    uint32_t m_length = 0;
    uint32_t m_capacity = kInlineSize - 1;
    const char* m_pCategory;
    uint16_t m_level;
    const char* m_pFile;
    uint16_t m_line;
    const char* m_pMacro;
    bool m_enabled;
    LogExport* m_pSink;
};

}  // namespace sapp
