// JSON conventions shared by every part of sapp-host.
//
// Byte strings are lowercase hex, wide strings UTF-8, numbers JSON integers
// (64-bit values exactly). Objects keep their keys in insertion order so
// that traces and decoded records read in wire order. Bad input raises
// InputError with a message that names where in the input it was found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace sapphost {

using Json = nlohmann::ordered_json;

// Bad user input: a scenario, a record given as fields, hex text.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The deepest nesting accepted in input: far more than any record needs,
// and shallow enough for the recursive walks over checks and values.
inline constexpr std::size_t kMaxJsonDepth = 64;

// A place in a JSON value: the keys and array indexes from the root down.
using JsonPath = std::vector<std::variant<std::string, std::size_t>>;
// "steps[3].packet.record"; empty for the root.
std::string formatPath(const JsonPath& path);

// A place in a text: its line and column, both counted from 1. Lines end at
// LF, CR LF or a lone CR; a column counts characters, that is Unicode code
// points of the UTF-8 text (a tab is one, a byte order mark at the start
// none), as editors that go to line:column count them. Line 0: unknown.
struct TextPosition {
    std::size_t line = 0;
    std::size_t column = 0;
    bool known() const { return line != 0; }
};
// "my.json:12:5", or "my.json" for an unknown position.
std::string located(const std::string& source, TextPosition position);
// {"file", "line", "column"}; null for an unknown position.
Json locationJson(const std::string& source, TextPosition position);

// Where the arrays, objects and member keys of a JSON text begin, near the
// root of a value: for a member, the opening quote of its key; for an array
// or object, its bracket. Places deeper than kDepth below the root are not
// kept, so a map of many entries costs none.
class SourceMap {
public:
    static constexpr std::size_t kDepth = 3;

    void add(JsonPath path, TextPosition position) { m_places.emplace(std::move(path), position); }
    // The place of the value at `path` below the root, or of the nearest
    // value on its way from the root that has one; unknown when none has.
    TextPosition at(const JsonPath& path) const;

private:
    std::map<JsonPath, TextPosition> m_places;
};

// JSON text that cannot be read: not well formed (reason "not valid JSON:
// ...", position where the parser stopped), a key given twice in one object
// (path: the object; position: the second key), or arrays and objects nested
// deeper than kMaxJsonDepth.
class JsonTextError : public InputError {
public:
    JsonTextError(JsonPath path, std::string reason, TextPosition position = {});
    const JsonPath& path() const { return m_path; }
    const std::string& reason() const { return m_reason; }
    TextPosition position() const { return m_position; }

private:
    JsonPath m_path;
    std::string m_reason;
    TextPosition m_position;
};

// Called with each element of a streamed array, its index and where its
// parts begin in the text (relative to the element); it may take the
// element.
using ElementHandler = std::function<void(std::size_t index, Json& element, const SourceMap& places)>;

// Parses JSON text. Unlike Json::parse it refuses a key given twice in one
// object (Json::parse silently keeps one of them) and nesting deeper than
// kMaxJsonDepth (before anything that deep is built), both as JsonTextError.
// With `streamed`, each element of the root object's array member of that
// name goes to `onElement` as soon as it is complete and is not kept: the
// root returned holds that array empty, so a long array costs the memory of
// one element at a time.
Json parseJsonText(std::string_view text, std::string_view streamed = {}, const ElementHandler& onElement = {});

// Adds `key` with `value` at the end of `object`, whose keys the caller knows
// to differ from `key`: an ordered object's own insert searches every member
// first, which makes building a large object quadratic.
inline void appendMember(Json& object, std::string key, Json value) {
    object.get_ref<Json::object_t&>().emplace_back(std::move(key), std::move(value));
}

// The parts one after another. Used instead of "text" + std::string(...),
// which GCC 12 at -O3 wrongly warns about (-Wrestrict, inside the string's
// insert).
std::string concat(std::initializer_list<std::string_view> parts);

// Lowercase hex of `bytes`.
std::string toHex(std::string_view bytes);
// Bytes of hex text, after an optional "0x" as readable output writes it;
// upper and lower case are accepted and whitespace between digits is
// ignored. Throws InputError on an odd count of digits or a character that
// is not a hex digit.
std::string fromHex(std::string_view hex);
// Bytes given as a string in any form readable output writes them: hex
// after "0x"; hex alone (a string of hex digits, spaces allowed between
// pairs); a JSON string in double quotes, read by these rules after its
// quotes (the form readable output and decode give a byte string on its
// own: "\"hi\"" is two bytes, as '"hi"' is to decode); any other string as
// the bytes of its text. Throws InputError for bad hex after "0x", or
// digits alone that do not pair up.
std::string readByteString(std::string_view text);

// UTF-8 of a wide string (UTF-16 or UTF-32 depending on the platform's
// wchar_t); unpaired surrogates and invalid code points become U+FFFD.
std::string wideToUtf8(std::wstring_view text);

// Compact one-line JSON; invalid UTF-8 in strings is replaced, never thrown.
std::string dumpCompact(const Json& value);

// Readable output (the text trace of `run`, diagrams) shows values through a
// display tree: JSON whose strings are already written out and are printed
// as they are. Byte strings are written as a quoted string that
// readByteString reads back: their text when every byte is printable ASCII
// and the text does not read as hex (as "cafe" would), otherwise hex after
// "0x" ("0x00ff"); text is written quoted. A record so written is JSON that
// encode and scenarios take back. JSON output keeps hex everywhere.
std::string displayBytes(std::string_view bytes);
// The display tree of a value whose every string is a byte string in hex
// (a record's fields); a string that is not hex is written as text.
Json displayHexStrings(const Json& value);
// A display tree as one line: {"key":value,...}, [a,b], strings as they are.
std::string writeDisplay(const Json& display);
// writeDisplay(displayHexStrings(value)), appended to `out` without making
// the display tree.
void writeHexDisplay(std::string& out, const Json& value);
std::string writeHexDisplay(const Json& value);
// Appends an array or object (`structured`) on one line, as writeDisplay
// does, writing each member's value with element(out, member).
template <class F>
void writeMembers(std::string& out, const Json& structured, F&& element) {
    const bool object = structured.is_object();
    out += object ? '{' : '[';
    for (auto it = structured.begin(); it != structured.end(); ++it) {
        if (it != structured.begin()) out += ',';
        if (object) out += dumpCompact(Json(it.key())) + ':';
        element(out, *it);
    }
    out += object ? '}' : ']';
}

// The one of `names` a typo away from `given` (a letter wrong, missing,
// added, or two swapped; at most two such edits, for a word of three
// letters or more), as "did you mean \"error\"? " to open the list of
// names in a message; empty when none is that near.
std::string didYouMeanName(std::string_view given, const std::vector<std::string_view>& names);
// The edits between two words (letters changed, added, removed, two next to
// each other swapped).
std::size_t editDistance(std::string_view a, std::string_view b);

// The JSON type of `value` as a word for messages ("a string", "an array").
std::string describeType(const Json& value);

// An unsigned integer of type T from `value`; `where` names the value in the
// message of the InputError raised for anything else.
template <typename T> T toUnsigned(const Json& value, const std::string& where) {
    static_assert(std::is_unsigned_v<T>);
    if (value.is_number_unsigned()) {
        const auto v = value.get<uint64_t>();
        if (v <= (std::numeric_limits<T>::max)()) return static_cast<T>(v);
    } else if (value.is_number_integer() && value.get<int64_t>() >= 0) {
        const auto v = static_cast<uint64_t>(value.get<int64_t>());
        if (v <= (std::numeric_limits<T>::max)()) return static_cast<T>(v);
    }
    throw InputError(where + ": expected an integer from 0 to " + std::to_string((std::numeric_limits<T>::max)()) +
                     ", got " + dumpCompact(value));
}

// A signed 32-bit integer from `value`.
int32_t toInt32(const Json& value, const std::string& where);
bool toBool(const Json& value, const std::string& where);
const std::string& toString(const Json& value, const std::string& where);
// Bytes given as a string (readByteString).
std::string toBytes(const Json& value, const std::string& where);
// A decimal 32-bit number given as text (a map key); `where` names the
// object the key belongs to.
uint32_t parseDecimalU32(std::string_view text, const std::string& where);
// Requires an object; `where` names it in the error.
const Json& requireObject(const Json& value, const std::string& where);
// Throws InputError naming the first key of `object` not in `allowed`.
void rejectUnknownKeys(const Json& object, const std::vector<std::string_view>& allowed, const std::string& where);
inline void rejectUnknownKeys(const Json& object, std::initializer_list<std::string_view> allowed,
                              const std::string& where) {
    rejectUnknownKeys(object, std::vector<std::string_view>(allowed), where);
}

}  // namespace sapphost
