// Typed getters of JSON values, strict about keys, with "did you mean".
#include "tools/sapp-host/records/JsonSupport.h"

#include <algorithm>
#include <vector>

namespace sapphost {

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

std::string didYouMeanName(std::string_view given, const std::vector<std::string_view>& names) {
    // Words this short are too close to every other short word.
    if (given.size() < 3) return {};
    std::string_view best;
    std::size_t bestDistance = 3;
    for (const std::string_view name : names) {
        const std::size_t distance = editDistance(given, name);
        if (distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
    }
    return best.empty() ? std::string() : concat({"did you mean ", dumpCompact(Json(best)), "? "});
}

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
    if (!value.is_string()) {
        throw InputError(where + ": expected a byte string (hex, \"0x\" and hex, or text), got " + describeType(value));
    }
    try {
        return readByteString(value.get_ref<const std::string&>());
    } catch (const InputError& e) {
        throw InputError(where + ": " + e.what() + " (a byte string is hex, \"0x\" and hex, or text that is not hex)");
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
