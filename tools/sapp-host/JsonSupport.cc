#include "tools/sapp-host/JsonSupport.h"

#include <algorithm>
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

void rejectDeepNesting(const Json& value, const std::string& where) {
    // An explicit stack: the input may nest far deeper than the call stack.
    std::vector<std::pair<const Json*, std::size_t>> pending{{&value, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (!node->is_structured()) continue;
        if (depth >= kMaxJsonDepth) {
            throw InputError(where + ": nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
        }
        for (const Json& child : *node) pending.emplace_back(&child, depth + 1);
    }
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
    for (std::size_t i = 0; i < hex.size(); ++i) {
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

std::string describeType(const Json& value) {
    switch (value.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::object: return "an object";
    case Json::value_t::array: return "an array";
    case Json::value_t::string: return "a string";
    case Json::value_t::boolean: return "a boolean";
    case Json::value_t::number_float: return "a fractional number";
    default: return "a number";
    }
}

int32_t toInt32(const Json& value, const std::string& where) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const auto v = value.get<uint64_t>();
            if (v <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return static_cast<int32_t>(v);
        } else {
            const auto v = value.get<int64_t>();
            if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
                return static_cast<int32_t>(v);
            }
        }
    }
    throw InputError(where + ": expected a signed 32-bit integer, got " + dumpCompact(value));
}

bool toBool(const Json& value, const std::string& where) {
    if (!value.is_boolean()) throw InputError(where + ": expected true or false, got " + describeType(value));
    return value.get<bool>();
}

const std::string& toString(const Json& value, const std::string& where) {
    if (!value.is_string()) throw InputError(where + ": expected a string, got " + describeType(value));
    return value.get_ref<const std::string&>();
}

std::string toBytes(const Json& value, const std::string& where) {
    if (!value.is_string()) throw InputError(where + ": expected a hex string, got " + describeType(value));
    try {
        return fromHex(value.get_ref<const std::string&>());
    } catch (const InputError& e) {
        throw InputError(where + ": " + e.what());
    }
}

uint32_t parseDecimalU32(std::string_view text, const std::string& where) {
    uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 10;
    for (const char c : text) {
        if (c < '0' || c > '9') ok = false;
        if (ok) value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!ok || value > std::numeric_limits<uint32_t>::max()) {
        throw InputError(where + ": key \"" + std::string(text) + "\" is not a decimal 32-bit number");
    }
    return static_cast<uint32_t>(value);
}

const Json& requireObject(const Json& value, const std::string& where) {
    if (!value.is_object()) throw InputError(where + ": expected an object, got " + describeType(value));
    return value;
}

void rejectUnknownKeys(const Json& object, const std::vector<std::string_view>& allowed, const std::string& where) {
    for (const auto& [key, value] : object.items()) {
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            std::string list;
            for (const std::string_view a : allowed) list += (list.empty() ? "" : ", ") + std::string(a);
            throw InputError(where + ": unknown key \"" + key + "\" (expected " + list + ")");
        }
    }
}

}  // namespace sapphost
