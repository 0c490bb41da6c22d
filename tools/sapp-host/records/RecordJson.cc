#include "tools/sapp-host/records/RecordJson.h"

#include <type_traits>

#include "tools/sapp-host/records/FieldSpans.h"

#include "marshal/Errors.h"
#include "protocol/Packets.h"

namespace sapphost {

namespace ps = protocol::session;
namespace pl = vessaplugin::appMgr;

namespace {

// Finds the name that a field list gives the member at `member`.
struct NameFinder {
    const void* member;
    std::string name;
    template <class E, class T> void operator()(E, const char* field, const T& value) { (*this)(field, value); }
    template <class T> void operator()(const char* field, const T& value) {
        if (static_cast<const void*>(&value) == member) name = field;
    }
};

// The name that R's field list gives `member` of `record`: the packet table
// names payload fields by member, the field list names them for JSON.
template <class R, class M> std::string fieldName(const R& record, const M& member) {
    NameFinder finder{&member, {}};
    R::fields(record, finder);
    return finder.name;
}

// ---------------------------------------------------------------------------
// Payload contents (protocol/Packets.h): their JSON and their bytes.

template <class C> struct IsByType : std::false_type {};
template <auto S, class... W> struct IsByType<ps::ByType<S, W...>> : std::true_type {};

template <class C, class R> std::optional<Json> decodeContent(const R& record, std::string_view bytes, Direction d) {
    if constexpr (std::is_same_v<C, ps::SdkV2Payload>) {
        return decodeV2(bytes, d);
    } else if constexpr (IsByType<C>::value) {
        std::optional<Json> out;
        C::select(record, [&]<class N>() { out = decodeClean<typename N::Record>(bytes); });
        return out;
    } else {
        return decodeClean<typename C::Record>(bytes);
    }
}

// "2, 4 (AppInfoPack3) or 5 (PAppSdkInfo)": the types of a ByType's cases.
template <class... W> std::string casesText(ps::TypeList<W...>) {
    std::vector<std::string> cases;
    ps::forEach(ps::TypeList<W...>{}, [&]<class Case>() {
        std::string text;
        for (const uint32_t type : Case::types) text += (text.empty() ? "" : ", ") + std::to_string(type);
        cases.push_back(text + " (" + std::string(Case::Is::name) + ")");
    });
    std::string out;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        out += (i == 0 ? "" : i + 1 == cases.size() ? " or " : ", ") + cases[i];
    }
    return out;
}

template <class C, class R> std::string encodeContent(const R& record, const Json& in, const std::string& where) {
    if constexpr (std::is_same_v<C, ps::SdkV2Payload>) {
        return encodeSdkV2Payload(in, where);
    } else if constexpr (IsByType<C>::value) {
        std::optional<std::string> out;
        C::select(record, [&]<class N>() { out = encodeFromJson<typename N::Record>(in, where); });
        if (out) return *out;
        throw InputError(where + ": a body given as an object needs " + fieldName(record, record.*C::selector) + " " +
                         casesText(typename C::Cases{}) + "; give other bodies as hex");
    } else {
        return encodeFromJson<typename C::Record>(in, where);
    }
}

// ---------------------------------------------------------------------------
// Packets: the record's fields, and its payloads as PayloadJson.h says.

template <class P> using PayloadsOf = typename P::template PayloadsOf<typename P::Record>;

template <class F, class R> bool zippedIn(const R& record) {
    if constexpr (F::zippable) return (record.*F::zipped) != 0;
    return false;
}
template <class F, class R> uint32_t lengthIn(const R& record) {
    if constexpr (F::zippable) return record.*F::length;
    return 0;
}

// The name of the record a payload holds: the one its carrier's message
// type picks for a body chosen by type.
template <class C, class R> std::string contentName(const R& record) {
    std::string name;
    if constexpr (IsByType<C>::value) {
        C::select(record, [&]<class N>() { name = N::name; });
    } else {
        name = C::name;
    }
    return name;
}

// The payloads of record `r` of row P, each read once: a payload that reads
// cleanly (PayloadJson.h) comes as its NestedPayload and its fields, any
// other as its field's name and bytes alone.
template <class P, class Visit> void readPayloads(const typename P::Record& r, Direction direction, Visit visit) {
    ps::forEach(PayloadsOf<P>{}, [&]<class F>() {
        using C = typename F::Content;
        const std::string& bytes = r.*F::bytes;
        std::optional<Json> fields;
        const auto plain = plainPayload(bytes, zippedIn<F>(r), lengthIn<F>(r));
        if (plain) fields = decodeContent<C>(r, *plain, direction);
        if (!fields) return visit(fieldName(r, bytes), bytes, nullptr, Json());
        const NestedPayload payload{fieldName(r, bytes), contentName<C>(r), zippedIn<F>(r), *plain};
        visit(payload.field, bytes, &payload, std::move(*fields));
    });
}

template <class P> Decoded decodePacket(std::string_view bytes, Direction direction) {
    typename P::Record r;
    Decoded d = decodeWhole(bytes, r);
    readPayloads<P>(r, direction, [&d](const std::string& field, const std::string& raw, const NestedPayload* clean,
                                       Json fields) { d.fields[field] = clean ? std::move(fields) : Json(toHex(raw)); });
    return d;
}

template <class P> std::vector<NestedPayload> packetPayloads(std::string_view bytes, Direction direction) {
    typename P::Record r;
    decodeWhole(bytes, r);
    std::vector<NestedPayload> out;
    readPayloads<P>(r, direction, [&out](const std::string&, const std::string&, const NestedPayload* clean, Json) {
        if (clean) out.push_back(*clean);
    });
    return out;
}

template <class P> std::string encodePacket(const Json& in, const std::string& where) {
    typename P::Record r;
    if constexpr (P::payloadCount == 0) {
        fromJson(in, r, where);
    } else {
        std::vector<std::string> names;
        ps::forEach(PayloadsOf<P>{}, [&]<class F>() { names.push_back(fieldName(r, r.*F::bytes)); });
        fromJson(withoutObjects(in, names, where), r, where);
    }
    ps::forEach(PayloadsOf<P>{}, [&]<class F>() {
        const std::string name = fieldName(r, r.*F::bytes);
        if (!in.contains(name)) return;
        uint32_t* length = nullptr;
        bool lengthGiven = false;
        if constexpr (F::zippable) {
            length = &(r.*F::length);
            lengthGiven = in.contains(fieldName(r, r.*F::length));
        }
        const auto encode = [&r](const Json& value, const std::string& at) {
            return encodeContent<typename F::Content>(r, value, at);
        };
        r.*F::bytes = payloadBytes(in[name], zippedIn<F>(r), where + "." + name, encode, length, lengthGiven);
    });
    return packToString(r);
}

// ---------------------------------------------------------------------------
// The table of records.

struct Codec {
    std::string_view name;
    uint32_t uri;  // 0 for records nested in others
    Decoded (*decode)(std::string_view, Direction);
    std::string (*encode)(const Json&, const std::string&);
    std::vector<FieldSpan> (*spans)(std::string_view);
    std::vector<NestedPayload> (*payloads)(std::string_view, Direction);
};

template <typename R> Decoded decodeGeneric(std::string_view bytes, Direction) {
    R record;
    return decodeWhole(bytes, record);
}

std::vector<NestedPayload> noPayloads(std::string_view, Direction) { return {}; }

template <typename R> constexpr Codec nested(std::string_view name) {
    return {name, 0, decodeGeneric<R>, encodeFromJson<R>, fieldSpansOf<R>, noPayloads};
}

// The records nested in packets, in the order that fuzz inputs number them
// (after the packets). A payload record of the packet table missing here is
// added after them.
const Codec kNested[] = {
    {ps::SdkV2Payload::name, 0, decodeSdkV2Payload, encodeSdkV2Payload, fieldSpansOf<ps::AppHeaderV2>, noPayloads},
    nested<ps::AppInfoPack>("AppInfoPack"),
    nested<ps::AppInfoPack3>("AppInfoPack3"),
    nested<ps::VersionItem>("VersionItem"),
    nested<ps::PAppSdkInfo>("PAppSdkInfo"),
    nested<pl::PluginAppPackMap>("PluginAppPackMap"),
    nested<pl::PluginAppPack>("PluginAppPack"),
    nested<pl::PluginVerItem>("PluginVerItem"),
    nested<pl::PluginSid2AppsMap>("PluginSid2AppsMap"),
    nested<pl::PluginSid2Apps>("PluginSid2Apps"),
    nested<pl::PluginSidAttr>("PluginSidAttr"),
};

// Every record: the packet table's decoded packets in its order, then the
// nested records.
std::vector<Codec> makeCodecs() {
    std::vector<Codec> codecs;
    ps::forEach(ps::DecodedPackets{}, [&]<class P>() {
        codecs.push_back({P::name, P::uri, decodePacket<P>, encodePacket<P>, fieldSpansOf<typename P::Record>,
                          packetPayloads<P>});
    });
    codecs.insert(codecs.end(), std::begin(kNested), std::end(kNested));
    const auto add = [&codecs]<class N>() {
        for (const Codec& codec : codecs) {
            if (codec.name == N::name) return;
        }
        codecs.push_back(nested<typename N::Record>(N::name));
    };
    ps::forEach(ps::DecodedPackets{}, [&]<class P>() {
        ps::forEach(PayloadsOf<P>{}, [&]<class F>() {
            using C = typename F::Content;
            if constexpr (IsByType<C>::value) {
                ps::forEach(typename C::Cases{}, [&]<class W>() { add.template operator()<typename W::Is>(); });
            } else if constexpr (!std::is_same_v<C, ps::SdkV2Payload>) {
                add.template operator()<C>();
            }
        });
    });
    return codecs;
}

const std::vector<Codec>& codecs() {
    static const std::vector<Codec> all = makeCodecs();
    return all;
}

// The string fields that carry a nested payload (PayloadJson.h), and how to
// read their record with every byte string as hex, nested payloads too.
struct PayloadField {
    std::string_view record;
    std::string field;
    Decoded (*plain)(std::string_view, Direction);
};

std::vector<PayloadField> makePayloadFields() {
    std::vector<PayloadField> fields;
    ps::forEach(ps::DecodedPackets{}, [&]<class P>() {
        const typename P::Record r;
        ps::forEach(PayloadsOf<P>{}, [&]<class F>() {
            fields.push_back({P::name, fieldName(r, r.*F::bytes), decodeGeneric<typename P::Record>});
        });
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
        codec.spans(bytes);
        throw;
    }
}

std::optional<std::string> payloadHex(std::string_view name, std::string_view bytes, std::string_view field) {
    static const std::vector<PayloadField> payloadFields = makePayloadFields();
    for (const PayloadField& payload : payloadFields) {
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

std::vector<FieldSpan> fieldSpans(std::string_view name, std::string_view bytes) {
    return codecFor(name).spans(bytes);
}

std::vector<NestedPayload> nestedPayloads(std::string_view name, std::string_view bytes, Direction direction) {
    return codecFor(name).payloads(bytes, direction);
}

}  // namespace sapphost
