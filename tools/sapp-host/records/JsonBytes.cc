// Bytes and text in JSON: hex, UTF-8 from wide text, and the display of
// values.
#include "tools/sapp-host/records/JsonSupport.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

namespace sapphost {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (const std::string_view part : parts) size += part.size();
    std::string out;
    out.reserve(size);
    for (const std::string_view part : parts) out += part;
    return out;
}

std::string toHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

std::string fromHex(std::string_view hex) {
    std::string out;
    out.reserve(hex.size() / 2);
    int high = -1;
    const bool prefixed = hex.starts_with("0x") || hex.starts_with("0X");
    for (std::size_t i = prefixed ? 2 : 0; i < hex.size(); ++i) {
        const char c = hex[i];
        if (isSpace(c)) {
            if (high >= 0)
                throw InputError("hex digits come in pairs; whitespace splits a byte at offset " + std::to_string(i));
            continue;
        }
        const int d = hexDigit(c);
        if (d < 0) {
            throw InputError("'" + std::string(1, c) + "' at offset " + std::to_string(i) + " is not a hex digit");
        }
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<char>((high << 4) | d));
            high = -1;
        }
    }
    if (high >= 0) throw InputError("odd number of hex digits");
    return out;
}

std::string readByteString(std::string_view text) {
    // A byte string in double quotes, as readable output writes one (and
    // decode takes one): the string it quotes, read by the same rules, so
    // that "\"hi\"" in a scenario is the two bytes decode '"hi"' reads.
    std::string unquoted;
    while (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        const Json quoted = Json::parse(text, nullptr, false);
        if (!quoted.is_string()) break;
        unquoted = quoted.get<std::string>();
        text = unquoted;
    }
    const bool digits = std::all_of(text.begin(), text.end(), [](char c) { return isSpace(c) || hexDigit(c) >= 0; });
    if (digits || text.starts_with("0x") || text.starts_with("0X")) return fromHex(text);
    return std::string(text);
}

std::string wideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            cp &= 0xFFFF;
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
                const char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
        appendUtf8(out, cp);
    }
    return out;
}

std::string dumpCompact(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string displayBytes(std::string_view bytes) {
    const bool printable = std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
    bool readsBack = false;
    try {
        readsBack = printable && readByteString(bytes) == bytes;
    } catch (const InputError&) {
    }
    return dumpCompact(Json(readsBack ? std::string(bytes) : "0x" + toHex(bytes)));
}

Json displayHexStrings(const Json& value) {
    if (value.is_string()) {
        try {
            return displayBytes(fromHex(value.get_ref<const std::string&>()));
        } catch (const InputError&) {
            return dumpCompact(value);
        }
    }
    if (!value.is_structured()) return value;
    Json out = value;
    for (Json& child : out) child = displayHexStrings(child);
    return out;
}

std::string writeDisplay(const Json& display) {
    if (display.is_string()) return display.get<std::string>();
    if (!display.is_structured()) return dumpCompact(display);
    std::string out;
    writeMembers(out, display, [](std::string& o, const Json& member) { o += writeDisplay(member); });
    return out;
}

void writeHexDisplay(std::string& out, const Json& value) {
    if (value.is_string()) {
        try {
            out += displayBytes(fromHex(value.get_ref<const std::string&>()));
        } catch (const InputError&) {
            out += dumpCompact(value);
        }
        return;
    }
    if (!value.is_structured()) {
        out += dumpCompact(value);
        return;
    }
    writeMembers(out, value, [](std::string& o, const Json& member) { writeHexDisplay(o, member); });
}

std::string writeHexDisplay(const Json& value) {
    std::string out;
    writeHexDisplay(out, value);
    return out;
}

}  // namespace sapphost
