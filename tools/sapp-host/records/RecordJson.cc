#include "tools/sapp-host/records/RecordJson.h"

#include <algorithm>
#include <cstdint>
#include <span>

#include "marshal/Errors.h"
#include "protocol/PacketVisitor.h"
#include "tools/sapp-host/records/FieldSpans.h"

namespace sapphost {

namespace ps = protocol::session;
namespace pl = vessaplugin::appMgr;

namespace {

// How a record of the mapping is read and written. A payload field is read
// and written by the codec of the record it holds.
struct Codec {
    std::string_view name;
    uint32_t uri;  // 0 for records nested in others
    Decoded (*decode)(std::string_view, Direction);
    std::string (*encode)(const Json&, const std::string&);
    std::vector<FieldSpan> (*spans)(std::string_view, Direction);
    std::vector<NestedPayload> (*payloads)(std::string_view, Direction);
    // The fields of bytes that read cleanly as the record (PayloadJson.h).
    std::optional<Json> (*clean)(std::string_view, Direction);
    // A check's pattern of the record's fields (patternOf in FieldJson.h).
    Json (*pattern)(const Json&, const std::string&);
};

const Codec& codecFor(std::string_view name);

// ---------------------------------------------------------------------------
// Payload fields (protocol/PacketVisitor.h): their JSON and their bytes.

// The payload fields of `record`, a record of row `row`, as its field values
// stand now (a body chosen by type follows the type the record holds).
template <class P> std::vector<ps::PayloadField> payloadFields(P row, typename P::Record& record) {
    std::vector<ps::PayloadField> fields;
    ps::forEachPayload(row, record, [&fields](const ps::PayloadField& field) { fields.push_back(field); });
    return fields;
}

// "2, 4 (AppInfoPack3) or 5 (PAppSdkInfo)": the types of a body's choices.
std::string choicesText(std::span<const ps::PayloadChoice> choices) {
    std::string out;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        std::string types;
        for (const uint32_t type : choices[i].types) types += (types.empty() ? "" : ", ") + std::to_string(type);
        out += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + types + " (" + std::string(choices[i].record) +
               ")";
    }
    return out;
}

std::optional<Json> decodeContent(const ps::PayloadField& field, std::string_view bytes, Direction direction) {
    if (field.record.empty()) return std::nullopt;
    return codecFor(field.record).clean(bytes, direction);
}

std::string encodeContent(const ps::PayloadField& field, const Json& in, const std::string& where) {
    if (field.record.empty()) {
        throw InputError(where + ": a body given as an object needs " + std::string(field.selectorName) + " " +
                         choicesText(field.choices) + "; give other bodies as hex");
    }
    return codecFor(field.record).encode(in, where);
}

// The payloads `fields`, each read once: a payload that reads cleanly
// (PayloadJson.h) comes as its NestedPayload and its fields, any other as
// its field's name and bytes alone.
template <class Visit>
void readPayloads(const std::vector<ps::PayloadField>& fields, Direction direction, Visit visit) {
    for (const ps::PayloadField& field : fields) {
        const std::string& bytes = *field.bytes;
        std::optional<Json> content;
        const auto plain = plainPayload(bytes, field.isZipped(), field.length ? *field.length : 0);
        if (plain) content = decodeContent(field, *plain, direction);
        if (!content) {
            visit(std::string(field.name), bytes, nullptr, Json());
            continue;
        }
        const NestedPayload payload{std::string(field.name), std::string(field.record), field.isZipped(), *plain};
        visit(payload.field, bytes, &payload, std::move(*content));
    }
}

// ---------------------------------------------------------------------------
// Packets: the record's fields, and its payloads as PayloadJson.h says.

template <class P> Decoded decodePacket(std::string_view bytes, Direction direction) {
    typename P::Record r;
    Decoded d = decodeWhole(bytes, r);
    readPayloads(payloadFields(P{}, r), direction,
                 [&d](const std::string& field, const std::string& raw, const NestedPayload* clean, Json fields) {
                     d.fields[field] = clean ? std::move(fields) : Json(toHex(raw));
                 });
    return d;
}

template <class P> std::vector<NestedPayload> packetPayloads(std::string_view bytes, Direction direction) {
    typename P::Record r;
    decodeWhole(bytes, r);
    std::vector<NestedPayload> out;
    readPayloads(payloadFields(P{}, r), direction,
                 [&out](const std::string&, const std::string&, const NestedPayload* clean, Json) {
                     if (clean) out.push_back(*clean);
                 });
    return out;
}

// A packet's pattern: its fields by its field list, a payload given as an
// object by the record it holds (for a body chosen by type, by the type the
// pattern gives, else by any of the choices).
template <class P> Json patternPacket(const Json& in, const std::string& where) {
    typename P::Record r;
    std::vector<std::string> names;
    for (const ps::PayloadField& field : payloadFields(P{}, r)) names.emplace_back(field.name);
    const Json plain = withoutObjects(in, names, where);
    // The fields given, read into the record, choose a body chosen by type.
    fromJson(plain, r, where);
    Json out = patternOf<typename P::Record>(plain, where);
    for (const ps::PayloadField& field : payloadFields(P{}, r)) {
        const std::string name(field.name);
        const auto given = in.find(name);
        if (given == in.end() || !given->is_object()) continue;
        const std::string at = where + "." + name;
        if (!field.record.empty()) {
            out[name] = codecFor(field.record).pattern(*given, at);
            continue;
        }
        if (in.contains(std::string(field.selectorName))) {
            throw InputError(at + ": a body given as an object needs " + std::string(field.selectorName) + " " +
                             choicesText(field.choices) + "; give other bodies as hex");
        }
        // Any of the records the type can choose.
        std::string errors;
        for (const ps::PayloadChoice& choice : field.choices) {
            try {
                out[name] = codecFor(choice.record).pattern(*given, at);
                break;
            } catch (const InputError& e) {
                errors += std::string(errors.empty() ? "" : "; ") + e.what();
            }
        }
        if (!out.contains(name)) {
            throw InputError(at + ": not a body of any type (" + choicesText(field.choices) + "): " + errors);
        }
    }
    // In the order given.
    Json ordered = Json::object();
    for (const auto& [key, value] : in.items()) appendMember(ordered, key, std::move(out[key]));
    return ordered;
}

template <class P> std::string encodePacket(const Json& in, const std::string& where) {
    typename P::Record r;
    // The other fields first: a body chosen by type follows the type given.
    std::vector<std::string> names;
    for (const ps::PayloadField& field : payloadFields(P{}, r)) names.emplace_back(field.name);
    fromJson(withoutObjects(in, names, where), r, where);
    for (const ps::PayloadField& field : payloadFields(P{}, r)) {
        const std::string name(field.name);
        if (!in.contains(name)) continue;
        const bool lengthGiven = field.length && in.contains(std::string(field.lengthName));
        const auto encode = [&field](const Json& value, const std::string& at) {
            return encodeContent(field, value, at);
        };
        *field.bytes = payloadBytes(in[name], field.isZipped(), where + "." + name, encode, field.length, lengthGiven);
    }
    return packToString(r);
}

// ---------------------------------------------------------------------------
// The table of records.

template <typename R> Decoded decodeGeneric(std::string_view bytes, Direction) {
    R record;
    return decodeWhole(bytes, record);
}

template <typename R> std::optional<Json> cleanGeneric(std::string_view bytes, Direction) {
    return decodeClean<R>(bytes);
}

template <typename R> std::vector<FieldSpan> spansGeneric(std::string_view bytes, Direction) {
    return fieldSpansOf<R>(bytes);
}

std::vector<NestedPayload> noPayloads(std::string_view, Direction) { return {}; }

template <typename R> Json patternGeneric(const Json& in, const std::string& where) { return patternOf<R>(in, where); }

template <typename R> constexpr Codec nested(std::string_view name) {
    return {name, 0, decodeGeneric<R>, encodeFromJson<R>, spansGeneric<R>, noPayloads, cleanGeneric<R>,
            patternGeneric<R>};
}

// Every record, in the order that fuzz inputs number them: the packet
// table's decoded packets in its order, the SDK V2 payload, then the nested
// records of Packets.h's list. Every record that a payload of the packet
// table holds is one of them (RecordJsonTest.EveryPayloadHoldsARecordOfTheMapping).
std::vector<Codec> makeCodecs() {
    std::vector<Codec> codecs;
    ps::forEachPacket([&codecs](auto row) {
        using P = decltype(row);
        if constexpr (ps::isDecoded<P>) {
            using R = typename P::Record;
            codecs.push_back({P::name, P::uri, decodePacket<P>, encodePacket<P>, spansGeneric<R>, packetPayloads<P>,
                              cleanGeneric<R>, patternPacket<P>});
        }
    });
    codecs.push_back({ps::SdkV2Payload::name, 0, decodeSdkV2Payload, encodeSdkV2Payload, sdkV2PayloadSpans,
                      noPayloads, decodeV2, sdkV2Pattern});
    ps::forEach(ps::NestedRecords{}, [&codecs]<class N>() { codecs.push_back(nested<typename N::Record>(N::name)); });
    return codecs;
}

const std::vector<Codec>& codecs() {
    static const std::vector<Codec> all = makeCodecs();
    return all;
}

// The string fields that carry a nested payload (PayloadJson.h), and how to
// read their record with every byte string as hex, nested payloads too.
struct PayloadHex {
    std::string_view record;
    std::string field;
    Decoded (*plain)(std::string_view, Direction);
};

std::vector<PayloadHex> makePayloadHexes() {
    std::vector<PayloadHex> fields;
    ps::forEachPacket([&fields](auto row) {
        using P = decltype(row);
        if constexpr (ps::isDecoded<P>) {
            typename P::Record r;
            for (const ps::PayloadField& field : payloadFields(row, r)) {
                fields.push_back({P::name, std::string(field.name), decodeGeneric<typename P::Record>});
            }
        }
    });
    return fields;
}

const Codec* findCodec(std::string_view name) {
    for (const Codec& codec : codecs()) {
        if (codec.name == name) return &codec;
    }
    return nullptr;
}

const Codec& codecFor(std::string_view name) {
    if (const Codec* codec = findCodec(name)) return *codec;
    throw InputError("unknown record \"" + std::string(name) + "\"");
}

}  // namespace

std::vector<std::string> recordNames() {
    std::vector<std::string> names;
    for (const Codec& codec : codecs()) names.emplace_back(codec.name);
    return names;
}

bool isRecordName(std::string_view name) { return findCodec(name) != nullptr; }

std::string_view recordNameForUri(uint32_t uri) {
    for (const Codec& codec : codecs()) {
        if (codec.uri != 0 && codec.uri == uri) return codec.name;
    }
    return {};
}

Decoded decodeRecord(std::string_view name, std::string_view bytes, Direction direction) {
    const Codec& codec = codecFor(name);
    try {
        return codec.decode(bytes, direction);
    } catch (const pakt::UnpackError&) {
        // Walked again to say which field ran short and by how much.
        codec.spans(bytes, direction);
        throw;
    }
}

std::optional<std::string> payloadHex(std::string_view name, std::string_view bytes, std::string_view field) {
    static const std::vector<PayloadHex> payloadHexes = makePayloadHexes();
    for (const PayloadHex& payload : payloadHexes) {
        if (payload.record != name || payload.field != field) continue;
        try {
            return payload.plain(bytes, Direction::Down).fields[std::string(field)].get<std::string>();
        } catch (const pakt::UnpackError&) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::string encodeRecord(std::string_view name, const Json& fields, const std::string& where) {
    return codecFor(name).encode(fields, where);
}

Json recordPattern(std::string_view name, const Json& fields, const std::string& where) {
    return codecFor(name).pattern(fields, where);
}

std::vector<std::string> packetRecordNames() {
    std::vector<std::string> names;
    for (const Codec& codec : codecs()) {
        if (codec.uri != 0) names.emplace_back(codec.name);
    }
    return names;
}

std::vector<uint32_t> recordUris() {
    std::vector<uint32_t> uris;
    ps::forEachPacket([&uris](auto row) { uris.push_back(decltype(row)::uri); });
    return uris;
}

std::string uriName(uint32_t uri) { return std::to_string(uri >> 8) + "|" + std::to_string(uri & 0xFF); }

uint32_t parseUri(std::string_view text, const std::string& where) {
    const auto digits = [](std::string_view part) {
        return !part.empty() && part.size() <= 10 && std::all_of(part.begin(), part.end(), [](char c) {
            return c >= '0' && c <= '9';
        });
    };
    const std::size_t bar = text.find('|');
    if (bar == std::string_view::npos && digits(text)) {
        const uint64_t uri = std::stoull(std::string(text));
        if (uri <= UINT32_MAX) return static_cast<uint32_t>(uri);
    } else if (bar != std::string_view::npos && digits(text.substr(0, bar)) && digits(text.substr(bar + 1))) {
        const uint64_t number = std::stoull(std::string(text.substr(0, bar)));
        const uint64_t service = std::stoull(std::string(text.substr(bar + 1)));
        if (number <= (UINT32_MAX >> 8) && service <= 0xFF) return static_cast<uint32_t>(number << 8 | service);
    }
    throw InputError(where + ": \"" + std::string(text) +
                     "\" is not a URI: give it as a number (256978) or as number|service (1003|210), the number "
                     "below 16777216 and the service below 256");
}

uint32_t uriOf(const Json& value, const std::string& where) {
    if (value.is_string()) return parseUri(value.get_ref<const std::string&>(), where);
    if (value.is_number_integer()) return toUnsigned<uint32_t>(value, where);
    throw InputError(where + ": expected a URI, a number (256978) or a string \"number|service\" (\"1003|210\"), got " +
                     describeType(value));
}

std::string urisText() {
    std::string text;
    ps::forEachPacket([&text](auto row) {
        using P = decltype(row);
        text += (text.empty() ? "" : ", ") + std::to_string(P::uri) + " (" + uriName(P::uri) + ") " +
                (ps::isDecoded<P> ? std::string(P::name) : "relayed undecoded");
    });
    return text;
}

std::vector<FieldSpan> fieldSpans(std::string_view name, std::string_view bytes, Direction direction) {
    return codecFor(name).spans(bytes, direction);
}

std::vector<NestedPayload> nestedPayloads(std::string_view name, std::string_view bytes, Direction direction) {
    return codecFor(name).payloads(bytes, direction);
}

}  // namespace sapphost
