// Test helpers for reading what the stand-in log sink recorded.
#pragma once

#include <string>
#include <vector>

#include "standin/tarnbase/StandinLog.h"

namespace sapp::testing {

// Log texts narrowed to bytes (the module's log texts are ASCII).
inline std::string narrow(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) out.push_back(static_cast<char>(c));
    return out;
}

inline std::vector<std::string> loggedTexts() {
    std::vector<std::string> texts;
    for (const auto& record : standin::logRecords()) texts.push_back(narrow(record.text));
    return texts;
}

}  // namespace sapp::testing
