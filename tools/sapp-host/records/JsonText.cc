// JSON texts: parsed with the source position of every value, and the
// places of paths and positions in messages.
#include "tools/sapp-host/records/JsonSupport.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>
#include <utility>
#include <vector>

namespace sapphost {

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

}  // namespace sapphost
