#include "tools/sapp-host/scenario/Pattern.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "standin/pktcore/StandinSession.h"
#include "tools/sapp-host/records/EventJson.h"
#include "tools/sapp-host/records/RecordJson.h"

namespace sapphost {

namespace {

// Reads the value of one key of a line's kind, in the form lines show it.
using Reader = Json (*)(const Json& value, const PatternContext& context, const std::string& where);

Json textValue(const Json& value, const PatternContext&, const std::string& where) { return toString(value, where); }

template <typename T> Json numberValue(const Json& value, const PatternContext&, const std::string& where) {
    return static_cast<uint64_t>(toUnsigned<T>(value, where));
}

Json signedValue(const Json& value, const PatternContext&, const std::string& where) {
    return toInt32(value, where);
}

Json boolValue(const Json& value, const PatternContext&, const std::string& where) { return toBool(value, where); }

Json bytesValue(const Json& value, const PatternContext&, const std::string& where) {
    return toHex(toBytes(value, where));
}

Json uriValue(const Json& value, const PatternContext&, const std::string& where) { return uriOf(value, where); }

Json sessionValue(const Json& value, const PatternContext& context, const std::string& where) {
    const std::string& name = toString(value, where);
    if (!context.sessions.count(name)) {
        std::string opened;
        for (const std::string& known : context.sessions) opened += (opened.empty() ? "\"" : ", \"") + known + "\"";
        throw InputError(where + ": no session \"" + name + "\" was opened in this step or an earlier one" +
                         (opened.empty() ? "" : " (sessions: " + opened + ")"));
    }
    return name;
}

// One of `values`, as text.
Json oneOf(const Json& value, std::initializer_list<std::string_view> values, const std::string& where) {
    const std::string& given = toString(value, where);
    if (std::find(values.begin(), values.end(), given) != values.end()) return given;
    std::string list;
    for (const std::string_view v : values) list += (list.empty() ? "\"" : "\", \"") + std::string(v);
    throw InputError(where + ": \"" + given + "\" is not one of " + list + "\"");
}

Json taskOpValue(const Json& value, const PatternContext&, const std::string& where) {
    return oneOf(value, {"add", "remove", "run"}, where);
}

Json watchOpValue(const Json& value, const PatternContext&, const std::string& where) {
    return oneOf(value, {"add", "remove"}, where);
}

Json viaValue(const Json& value, const PatternContext&, const std::string& where) {
    return oneOf(value, {"sink", "DoLog2"}, where);
}

Json errorTypeValue(const Json& value, const PatternContext&, const std::string& where) {
    return oneOf(value, {"UnpackError", "PackError", "PacketError", "HostFault", "other"}, where);
}

Json hostCallValue(const Json& value, const PatternContext&, const std::string& where) {
    const std::string& given = toString(value, where);
    std::string list;
    for (const standin::HostCall call : standin::kHostCalls) {
        if (given == standin::hostCallName(call)) return given;
        list += (list.empty() ? "" : ", ") + std::string(standin::hostCallName(call));
    }
    std::vector<std::string_view> names;
    for (const standin::HostCall call : standin::kHostCalls) names.push_back(standin::hostCallName(call));
    throw InputError(where + ": \"" + given + "\" is not a host call that fails (" + didYouMeanName(given, names) +
                     list + ")");
}

// A record's name, or null for a URI without one.
Json recordNameValue(const Json& value, const PatternContext&, const std::string& where) {
    if (value.is_null()) return value;
    const std::string& name = toString(value, where);
    const std::vector<std::string> names = packetRecordNames();
    if (std::find(names.begin(), names.end(), name) != names.end()) return name;
    std::string list;
    for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
    throw InputError(where + ": \"" + name + "\" is not a record sent or received (" +
                     didYouMeanName(name, std::vector<std::string_view>(names.begin(), names.end())) + list +
                     ", or null)");
}

// An event's name, or null for a code without one.
Json eventNameValue(const Json& value, const PatternContext&, const std::string& where) {
    if (value.is_null() || eventTypeNamed(toString(value, where))) return value;
    const std::string& name = value.get_ref<const std::string&>();
    throw InputError(where + ": \"" + name + "\" is not an event's name (" + didYouMeanName(name, eventNames()) +
                     eventNamesText() +
                     ", or null)");
}

template <Reader element> Json listOf(const Json& value, const PatternContext& context, const std::string& where) {
    if (!value.is_array()) throw InputError(where + ": expected an array, got " + describeType(value));
    Json out = Json::array();
    for (std::size_t i = 0; i < value.size(); ++i) {
        out.push_back(element(value[i], context, where + "[" + std::to_string(i) + "]"));
    }
    return out;
}

// Read apart from the other keys: what they hold depends on the record or
// event the others name.
Json fieldsLater(const Json& value, const PatternContext&, const std::string&) { return value; }

struct Member {
    std::string_view key;
    Reader read;
};

struct Kind {
    std::string_view name;
    std::vector<Member> members;
};

// The kinds of line the checks see and what each holds (Trace.h writes
// them).
const Kind kKinds[] = {
    {"log",
     {{"text", textValue},
      {"macro", textValue},
      {"file", textValue},
      {"line", numberValue<uint16_t>},
      {"category", textValue},
      {"level", numberValue<uint16_t>},
      {"module", textValue},
      {"via", viaValue}}},
    {"send",
     {{"session", sessionValue},
      {"type", signedValue},
      {"uri", uriValue},
      {"record", recordNameValue},
      {"hex", bytesValue},
      {"fields", fieldsLater},
      {"decodeError", textValue},
      {"trailing", bytesValue},
      {"extra", bytesValue}}},
    {"event",
     {{"session", sessionValue},
      {"type", numberValue<uint32_t>},
      {"name", eventNameValue},
      {"fields", fieldsLater},
      {"extra", bytesValue}}},
    {"task", {{"session", sessionValue}, {"op", taskOpValue}, {"interval", numberValue<uint32_t>}}},
    {"watch", {{"session", sessionValue}, {"op", watchOpValue}}},
    {"answer",
     {{"getModule", boolValue},
      {"uris", listOf<uriValue>},
      {"reqtypes", listOf<numberValue<uint32_t>>},
      {"modflag", signedValue}}},
    {"error", {{"type", errorTypeValue}, {"what", textValue}}},
    {"fault", {{"session", sessionValue}, {"sid", numberValue<uint32_t>}, {"call", hostCallValue}}},
};

std::string keysOf(const Kind& kind) {
    std::string list;
    for (const Member& member : kind.members) list += (list.empty() ? "" : ", ") + std::string(member.key);
    return list;
}

// The record of the lines a send pattern can match: the one it names, or
// the one its URI carries; none when it names neither. Checks that a URI
// and a record given together agree, and that a pattern with fields is of
// lines that have them.
std::optional<std::string> sentRecord(const Json& body, const std::string& where) {
    const bool fields = body.contains("fields");
    std::optional<std::string> byName;
    if (const auto record = body.find("record"); record != body.end()) {
        if (record->is_null() && fields) throw InputError(where + ".fields: a line without a record has no fields");
        if (!record->is_null()) byName = record->get<std::string>();
    }
    if (const auto given = body.find("uri"); given != body.end()) {
        const uint32_t number = given->get<uint32_t>();
        const std::string byUri(recordNameForUri(number));
        if (byUri.empty() && fields) {
            throw InputError(where + ".fields: URI " + std::to_string(number) + " (" + uriName(number) +
                             ") carries no record, so its lines have no fields");
        }
        if (body.contains("record") && (byName ? *byName != byUri : !byUri.empty())) {
            throw InputError(where + ": URI " + std::to_string(number) + " (" + uriName(number) + ") carries " +
                             (byUri.empty() ? "no record" : byUri) + ", not " + byName.value_or("null") +
                             ", so no line has both");
        }
        return byUri.empty() ? std::nullopt : std::optional<std::string>(byUri);
    }
    return byName;
}

Json sentFields(const Json& body, const Json& fields, const std::string& where) {
    if (const std::optional<std::string> record = sentRecord(body, where)) {
        return recordPattern(*record, fields, where + ".fields");
    }
    // Those of any record: the first they fit.
    std::optional<std::string> first;
    for (const std::string& record : packetRecordNames()) {
        try {
            return recordPattern(record, fields, where + ".fields");
        } catch (const InputError& e) {
            if (!first) first = record + ": " + e.what();
        }
    }
    throw InputError(where + ".fields: the fields of no record (give \"record\" or \"uri\" to check them against "
                     "one); as " + first.value_or(""));
}

// The code of the event a pattern names by "type" or "name" (none for
// "name": null, which stands for any code without a name), checking that
// the two name the same event.
std::optional<uint32_t> eventType(const Json& body, const std::string& where) {
    std::optional<uint32_t> type;
    if (const auto given = body.find("type"); given != body.end()) type = given->get<uint32_t>();
    const auto name = body.find("name");
    if (name == body.end()) return type;
    const std::optional<uint32_t> named = name->is_null() ? std::nullopt : eventTypeNamed(name->get<std::string>());
    if (type && (named ? *named != *type : !eventName(*type).empty())) {
        throw InputError(where + ": type " + std::to_string(*type) + " and name " + dumpCompact(*name) +
                         " are not one event, so no line has both");
    }
    return type ? type : named;
}

Json eventFields(const Json& body, const Json& fields, const std::string& where) {
    const std::optional<uint32_t> type = eventType(body, where);
    if (!type && body.contains("name") && !requireObject(fields, where + ".fields").empty()) {
        throw InputError(where + ".fields: an event without a name has no fields");
    }
    return eventFieldsPattern(type, fields, where + ".fields");
}

}  // namespace

std::string patternKindsText() {
    std::string list;
    for (const Kind& kind : kKinds) list += (list.empty() ? "" : ", ") + std::string(kind.name);
    return list;
}

Json readPattern(const Json& pattern, const PatternContext& context, const std::string& where) {
    requireObject(pattern, where);
    if (pattern.size() != 1) {
        throw InputError(where + ": a check names one kind of line (" + patternKindsText() + "), this one " +
                         (pattern.empty() ? "none" : std::to_string(pattern.size())));
    }
    const std::string& name = pattern.begin().key();
    if (name == "recv" || name == "step") {
        throw InputError(where + ": checks never see " + name + " lines (" +
                         (name == "recv" ? "the echo of the host's input" : "the start of a step's output") +
                         "); the kinds they see: " + patternKindsText());
    }
    const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds), [&name](const Kind& k) { return k.name == name; });
    if (kind == std::end(kKinds)) {
        std::vector<std::string_view> kinds;
        for (const Kind& k : kKinds) kinds.push_back(k.name);
        throw InputError(where + ": unknown kind of line \"" + name + "\" (" + didYouMeanName(name, kinds) +
                         "kinds: " + patternKindsText() + ")");
    }
    const std::string at = where + "." + name;
    const Json& body = requireObject(pattern.begin().value(), at);
    Json out = Json::object();
    for (auto given = body.begin(); given != body.end(); ++given) {
        const std::string& key = given.key();
        const auto member = std::find_if(kind->members.begin(), kind->members.end(),
                                         [&key](const Member& m) { return m.key == key; });
        if (member == kind->members.end()) {
            std::vector<std::string_view> keys;
            for (const Member& m : kind->members) keys.push_back(m.key);
            throw InputError(at + ": unknown key \"" + key + "\" (" + didYouMeanName(key, keys) + "keys of " + name +
                             " lines: " + keysOf(*kind) + ")");
        }
        appendMember(out, key, member->read(*given, context, at + "." + key));
    }
    if (name == "event") eventType(out, at);
    if (name == "send") sentRecord(out, at);
    if (const auto fields = out.find("fields"); fields != out.end()) {
        *fields = name == "send" ? sentFields(out, *fields, at) : eventFields(out, *fields, at);
    }
    return Json{{name, std::move(out)}};
}

}  // namespace sapphost
