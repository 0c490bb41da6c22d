#include "tools/sapp-host/records/JsonSupport.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>
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

std::string formatPath(const JsonPath& path) {
    std::string out;
    for (const auto& part : path) {
        if (const auto* key = std::get_if<std::string>(&part)) {
            out += (out.empty() ? "" : ".") + *key;
        } else {
            out += concat({"[", std::to_string(std::get<std::size_t>(part)), "]"});
        }
    }
    return out;
}

std::string located(const std::string& source, TextPosition position) {
    if (!position.known()) return source;
    return concat({source, ":", std::to_string(position.line), ":", std::to_string(position.column)});
}

Json locationJson(const std::string& source, TextPosition position) {
    if (!position.known()) return Json();
    return Json{{"file", source}, {"line", position.line}, {"column", position.column}};
}

TextPosition SourceMap::at(const JsonPath& path) const {
    // The path itself, then each shorter one on its way from the root.
    JsonPath way = path;
    while (true) {
        if (const auto it = m_places.find(way); it != m_places.end()) return it->second;
        if (way.empty()) return {};
        way.pop_back();
    }
}

JsonTextError::JsonTextError(JsonPath path, std::string reason, TextPosition position)
    : InputError(path.empty() ? reason : formatPath(path) + ": " + reason),
      m_path(std::move(path)),
      m_reason(std::move(reason)),
      m_position(position) {}

namespace {

// Reads a text for the JSON parser and notes how far it has read: the
// parser reads a bracket or a key's closing quote last before it reports
// it, so the builder below knows where each begins.
class ReadingIterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    ReadingIterator(const char* at, const char** reached) : m_at(at), m_reached(reached) {}
    reference operator*() const { return *m_at; }
    ReadingIterator& operator++() {
        *m_reached = ++m_at;
        return *this;
    }
    ReadingIterator operator++(int) {
        ReadingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const ReadingIterator& other) const { return m_at == other.m_at; }

private:
    const char* m_at;
    const char** m_reached;
};

// Turns offsets into a text, asked in increasing order, into positions.
class LineCounter {
public:
    explicit LineCounter(std::string_view text) : m_text(text) {
        if (m_text.starts_with("\xEF\xBB\xBF")) m_offset = 3;
    }

    TextPosition at(std::size_t offset) {
        if (offset < m_offset) return {};
        for (; m_offset < offset && m_offset < m_text.size(); ++m_offset) {
            const char c = m_text[m_offset];
            if (c == '\n' || (c == '\r' && (m_offset + 1 == m_text.size() || m_text[m_offset + 1] != '\n'))) {
                ++m_line;
                m_column = 1;
            } else if (c != '\r' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
                ++m_column;  // the first byte of a character
            }
        }
        return {m_line, m_column};
    }

private:
    std::string_view m_text;
    std::size_t m_offset = 0;
    std::size_t m_line = 1;
    std::size_t m_column = 1;
};

}  // namespace

namespace {

// Builds the value of a JSON text from the parser's events (nlohmann's SAX
// interface). Each open array or object is a frame that owns its value
// until it closes and moves into its parent, so no pointer into the tree is
// ever held.
class ValueBuilder {
public:
    ValueBuilder(std::string_view text, std::string_view streamed, const ElementHandler& onElement)
        : m_text(text), m_reached(text.data()), m_lines(text), m_streamed(streamed), m_onElement(onElement) {}

    const char** reached() { return &m_reached; }

    bool null() { return add(Json()); }
    bool boolean(bool value) { return add(Json(value)); }
    bool number_integer(Json::number_integer_t value) { return add(Json(value)); }
    bool number_unsigned(Json::number_unsigned_t value) { return add(Json(value)); }
    bool number_float(Json::number_float_t value, const Json::string_t&) { return add(Json(value)); }
    bool string(Json::string_t& value) { return add(Json(std::move(value))); }
    bool binary(Json::binary_t& value) { return add(Json::binary(std::move(value))); }
    bool start_object(std::size_t) { return open(Json::object()); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(Json::string_t& key) {
        Frame& frame = m_frames.back();
        frame.key = key;
        const TextPosition position = placed(keyStart());
        if (!frame.keys.insert(std::move(key)).second) {
            throw JsonTextError(path(), "duplicate key \"" + frame.key + "\"", position);
        }
        return true;
    }

    // At the character the parser stopped at (`position` counts the
    // characters read, that one included), in this tool's lines and
    // columns; the library's own message without its numbering and its own
    // line and column, which count bytes.
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) {
        std::string_view reason = e.what();
        if (const std::size_t id = reason.find("] "); reason.starts_with("[json.exception.") && id != reason.npos) {
            reason.remove_prefix(id + 2);
        }
        if (reason.starts_with("parse error at line ")) {
            if (const std::size_t colon = reason.find(": "); colon != reason.npos) reason.remove_prefix(colon + 2);
        }
        const std::size_t offset = std::min(position > 0 ? position - 1 : 0, m_text.size());
        throw JsonTextError({}, concat({"not valid JSON: ", reason}), m_lines.at(offset));
    }

    Json take() { return std::move(m_root); }

private:
    struct Frame {
        Json value;                             // the array or object being read
        std::string key;                        // objects: the key of the member being read
        std::unordered_set<std::string> keys;   // objects: every key so far
        std::size_t index = 0;                  // arrays: the index of the element being read
    };

    // The way from the root to the innermost open value.
    JsonPath path() const {
        JsonPath out;
        for (std::size_t i = 0; i + 1 < m_frames.size(); ++i) {
            if (m_frames[i].value.is_object()) {
                out.emplace_back(m_frames[i].key);
            } else {
                out.emplace_back(m_frames[i].index);
            }
        }
        return out;
    }

    bool open(Json container) {
        // The bracket was read last.
        const TextPosition position = placed(static_cast<std::size_t>(m_reached - m_text.data()) - 1);
        if (m_frames.size() >= kMaxJsonDepth) {
            throw JsonTextError({}, "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels", position);
        }
        m_frames.push_back({std::move(container), {}, {}, 0});
        return true;
    }

    // Whether the innermost open value lies in an element of the streamed
    // array (frames 0 and 1 are the root object and that array).
    bool inStreamedElement() const {
        return m_onElement && m_frames.size() >= 2 && m_frames[0].value.is_object() &&
               m_frames[0].key == m_streamed && m_frames[1].value.is_array();
    }

    // The position of `offset`, noted in the element's source map when the
    // value being opened, or the key just read, lies near the root of a
    // streamed element.
    TextPosition placed(std::size_t offset) {
        const TextPosition position = m_lines.at(offset);
        if (!inStreamedElement() || m_frames.size() - 2 > SourceMap::kDepth) return position;
        JsonPath relative;
        for (std::size_t i = 2; i < m_frames.size(); ++i) {
            if (m_frames[i].value.is_object()) {
                relative.emplace_back(m_frames[i].key);
            } else {
                relative.emplace_back(m_frames[i].index);
            }
        }
        m_places.add(std::move(relative), position);
        return position;
    }

    // The offset of the opening quote of the key whose closing quote was
    // read last: the quote before it that no backslash escapes.
    std::size_t keyStart() const {
        std::size_t at = static_cast<std::size_t>(m_reached - m_text.data()) - 1;
        while (at > 0) {
            --at;
            if (m_text[at] != '"') continue;
            std::size_t backslashes = 0;
            while (backslashes < at && m_text[at - 1 - backslashes] == '\\') ++backslashes;
            if (backslashes % 2 == 0) return at;
        }
        return 0;
    }

    bool close() {
        Json value = std::move(m_frames.back().value);
        m_frames.pop_back();
        return add(std::move(value));
    }

    bool add(Json value) {
        if (m_frames.empty()) {
            m_root = std::move(value);
            return true;
        }
        Frame& frame = m_frames.back();
        if (frame.value.is_object()) {
            // The keys were checked as they came.
            appendMember(frame.value, std::move(frame.key), std::move(value));
            return true;
        }
        if (m_onElement && m_frames.size() == 2 && m_frames[0].value.is_object() && m_frames[0].key == m_streamed) {
            m_onElement(frame.index++, value, m_places);
            m_places = SourceMap();
            return true;
        }
        frame.value.push_back(std::move(value));
        ++frame.index;
        return true;
    }

    std::string_view m_text;
    const char* m_reached;  // how far the parser has read
    LineCounter m_lines;
    std::string_view m_streamed;
    const ElementHandler& m_onElement;
    std::vector<Frame> m_frames;
    SourceMap m_places;  // of the streamed element being read
    Json m_root;
};

}  // namespace

Json parseJsonText(std::string_view text, std::string_view streamed, const ElementHandler& onElement) {
    ValueBuilder builder(text, streamed, onElement);
    Json::sax_parse(ReadingIterator(text.data(), builder.reached()),
                    ReadingIterator(text.data() + text.size(), builder.reached()), &builder);
    return builder.take();
}

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
    const bool object = display.is_object();
    std::string out(1, object ? '{' : '[');
    for (auto it = display.begin(); it != display.end(); ++it) {
        if (it != display.begin()) out += ',';
        if (object) out += dumpCompact(Json(it.key())) + ':';
        out += writeDisplay(*it);
    }
    return out + (object ? '}' : ']');
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
    const bool object = value.is_object();
    out += object ? '{' : '[';
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (it != value.begin()) out += ',';
        if (object) out += dumpCompact(Json(it.key())) + ':';
        writeHexDisplay(out, *it);
    }
    out += object ? '}' : ']';
}

std::string writeHexDisplay(const Json& value) {
    std::string out;
    writeHexDisplay(out, value);
    return out;
}

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
