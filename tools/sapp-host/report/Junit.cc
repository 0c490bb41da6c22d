#include "tools/sapp-host/report/Junit.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "tools/sapp-host/scenario/Matcher.h"

namespace sapphost {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the UTF-8 sequence at the start of `text` and its code
// point; 0 when it is not well formed.
std::size_t utf8Sequence(std::string_view text, char32_t& cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    cp = lead & (0x7F >> length);
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

// Whether XML 1.0 allows the character at all.
bool xmlChar(char32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp != 0xFFFE && cp != 0xFFFF);
}

std::string attribute(std::string_view text) { return concat({"\"", xmlEscaped(text, true), "\""}); }

// "scenarios.uplink" for scenarios/uplink.json: the folder as the package,
// the file as the class.
std::string className(const std::string& file) {
    const std::filesystem::path path(file);
    const std::string folder = path.parent_path().filename().string();
    return (folder.empty() ? "" : folder + ".") + path.stem().string();
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// The first field that differs in the first failure, when it names one.
std::string firstDifference(const Json& differences) {
    if (!differences.is_array() || differences.empty() || !differences[0].is_object()) return "";
    const auto listed = differences[0].find("differences");
    if (listed == differences[0].end() || !listed->is_array() || listed->empty() || !(*listed)[0].is_object()) {
        return "";
    }
    return describeDifference(differenceFromJson((*listed)[0]));
}

}  // namespace

std::string xmlEscaped(std::string_view text, bool inAttribute) {
    std::string out;
    while (!text.empty()) {
        char32_t cp = 0;
        const std::size_t length = utf8Sequence(text, cp);
        if (length == 0 || !xmlChar(cp)) {
            out += kReplacement;
            text.remove_prefix(length == 0 ? 1 : length);
            continue;
        }
        switch (cp) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += inAttribute ? "&quot;" : "\""; break;
        case '\'': out += inAttribute ? "&apos;" : "'"; break;
        case '\n': out += inAttribute ? "&#10;" : "\n"; break;
        case '\r': out += "&#13;"; break;
        case '\t': out += inAttribute ? "&#9;" : "\t"; break;
        default: out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out;
}

std::string junitTimestamp() {
    const std::time_t now = std::time(nullptr);
    char text[32] = {};
    if (const std::tm* local = std::localtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", local);
    return text;
}

std::string junitReport(const std::string& suite, const std::vector<ScenarioOutcome>& outcomes,
                        const std::string& timestamp, const std::string& hostname) {
    std::size_t failures = 0;
    std::size_t errors = 0;
    double total = 0;
    std::string cases;
    for (const ScenarioOutcome& outcome : outcomes) {
        total += outcome.seconds;
        cases += "    <testcase name=" + attribute(outcome.name) + " classname=" + attribute(className(outcome.file)) +
                 " file=" + attribute(outcome.file) + " time=\"" + seconds(outcome.seconds) + "\"";
        if (outcome.result == "pass") {
            cases += "/>\n";
            continue;
        }
        const bool failed = outcome.result == "fail";
        ++(failed ? failures : errors);
        std::string message = outcome.details.empty() ? outcome.result : firstLine(outcome.details.front());
        // The first field that differs says more than the check alone.
        if (const std::string difference = firstDifference(outcome.differences); !difference.empty()) {
            message += "; " + difference;
        }
        if (outcome.details.size() > 1) message += " (and " + std::to_string(outcome.details.size() - 1) + " more)";
        std::string body;
        for (const std::string& detail : outcome.details) body += detail + (detail.ends_with('\n') ? "" : "\n");
        const char* element = failed ? "failure" : "error";
        const char* type = failed                        ? "failed check"
                           : outcome.result == "bad"     ? "bad scenario"
                           : outcome.result == "timeout" ? "timeout"
                                                         : "crash";
        cases += ">\n      <" + std::string(element) + " message=" + attribute(message) + " type=\"" + type + "\">" +
                 xmlEscaped(body, false) + "</" + element + ">\n    </testcase>\n";
    }
    const std::string counts = " tests=\"" + std::to_string(outcomes.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" errors=\"" + std::to_string(errors) + "\"";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=" + attribute(suite) + counts + " time=\"" +
           seconds(total) + "\">\n  <testsuite name=" + attribute(suite) + counts + " skipped=\"0\" time=\"" +
           seconds(total) + "\" timestamp=" + attribute(timestamp) + " hostname=" + attribute(hostname) + ">\n" +
           cases + "  </testsuite>\n</testsuites>\n";
}

}  // namespace sapphost
