#include "support/SAppLog.h"

#include <cstring>

#include "support/LogLine.h"
#include "support/Platform.h"

namespace {

using sapp::LogLine;

// Source file and line reported for each form of the two families.
constexpr const char* kSappFile = "SAppLog";
constexpr const char* kSappMacro = "SAPP_LOG";
constexpr const char* kSappPrefix = "[sapp] ";
constexpr const char* kProtoFile = "ProtoLog";
constexpr const char* kProtoMacro = "PLOG";
constexpr const char* kProtoPrefix = "[sess] ";
constexpr std::size_t kPrefixLength = 7;

void appendMessage(LogLine& line, const char* prefix, const char* text) {
    line.appendText(prefix, kPrefixLength);
    // A disabled line does not even measure its text.
    if (text && line.enabled()) line.appendText(text, std::strlen(text));
}

void appendMessage(LogLine& line, const char* prefix, const std::string* text) {
    line.appendText(prefix, kPrefixLength);
    line.appendText(text->data(), text->size());
}

// Composes an enabled line and finishes it: once, also when composing
// throws (std::bad_alloc), in which case the line goes out as far as it got
// and the exception goes on. Out of line, so that a disabled line's call
// saves no registers for it.
template <typename Compose>
SAPP_NOINLINE void composeLine(LogLine::Start start, const char* file, uint16_t lineNumber, const char* macro,
                               Compose compose) {
    LogLine line(start, file, lineNumber, macro);
    try {
        compose(line);
    } catch (...) {
        line.finish();
        throw;
    }
    line.finish();
}

// Starts a line and finishes it, composed if its level is enabled. A
// disabled line is neither composed nor built (LogLine.h).
template <typename Compose>
void writeLine(const char* file, uint16_t lineNumber, const char* macro, Compose compose) {
    const LogLine::Start start = LogLine::startOrFinish();
    if (start.phase == LogLine::Phase::enabled) {
        composeLine(start, file, lineNumber, macro, compose);
    } else if (start.phase == LogLine::Phase::handOver) {
        LogLine::handOverUnwritten(start, file, lineNumber, macro);
    }
}

template <typename A, typename B>
void appendPair(LogLine& line, A a, B b) {
    line.appendText(" ", 1);
    line.appendNumber(a);
    line.appendText(", ", 2);
    line.appendNumber(b);
}

void appendOne(LogLine& line, uint32_t a) {
    line.appendText(" ", 1);
    line.appendNumber(a);
}

// The forms with numbers, for a literal or a std::string text (passed by
// its address: the lambdas hold the text's pointer and the numbers, which
// travel in registers and are stored nowhere for a disabled line).
template <typename Text>
void sappLog(Text text, uint32_t a) {
    writeLine(kSappFile, 30, kSappMacro, [text, a](LogLine& line) {
        appendMessage(line, kSappPrefix, text);
        appendOne(line, a);
    });
}

template <typename Text, typename A>
void sappLog(Text text, A a, uint32_t b) {
    writeLine(kSappFile, 45, kSappMacro, [text, a, b](LogLine& line) {
        appendMessage(line, kSappPrefix, text);
        appendPair(line, a, b);
    });
}

template <typename Text>
void protoLog(Text text, uint32_t a) {
    writeLine(kProtoFile, 54, kProtoMacro, [text, a](LogLine& line) {
        appendMessage(line, kProtoPrefix, text);
        appendOne(line, a);
    });
}

}  // namespace

void SAPP_LOG(const char* text) {
    writeLine(kSappFile, 10, kSappMacro, [text](LogLine& line) { appendMessage(line, kSappPrefix, text); });
}

void SAPP_LOG(const char* text, uint32_t a) { sappLog(text, a); }
void SAPP_LOG(const char* text, uint32_t a, uint32_t b) { sappLog(text, a, b); }
void SAPP_LOG(const char* text, uint64_t a, uint32_t b) { sappLog(text, a, b); }
void SAPP_LOG(const std::string& text, uint32_t a) { sappLog(&text, a); }

void PLOG(const char* text) {
    writeLine(kProtoFile, 39, kProtoMacro, [text](LogLine& line) { appendMessage(line, kProtoPrefix, text); });
}

void PLOG(const char* text, uint32_t a) { protoLog(text, a); }
void PLOG(const std::string& text, uint32_t a) { protoLog(&text, a); }
