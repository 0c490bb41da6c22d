#include "tools/sapp-host/records/PayloadJson.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "marshal/Errors.h"
#include "protocol/AppPayloads.h"
#include "protocol/SessionRecords.h"
#include "tools/sapp-host/records/Zlib.h"

namespace sapphost {

namespace ps = protocol::session;

// ---------------------------------------------------------------------------
// Payload fields in general.

std::optional<std::string> plainPayload(const std::string& bytes, bool zipped, uint32_t length) {
    if (!zipped) return bytes;
    auto inflated = inflateExactly(bytes, length);
    if (inflated && deflateBytes(*inflated) == bytes) return inflated;
    return std::nullopt;
}

std::string payloadBytes(const Json& value, bool zipped, const std::string& where,
                         const std::function<std::string(const Json&, const std::string&)>& encode,
                         uint32_t* lengthField, bool lengthGiven) {
    if (!value.is_object()) return toBytes(value, where);
    const std::string plain = encode(value, where);
    if (lengthField && !lengthGiven) *lengthField = static_cast<uint32_t>(plain.size());
    return zipped ? deflateBytes(plain) : plain;
}

Json withoutObjects(const Json& fields, const std::vector<std::string>& names, const std::string& where) {
    Json plain = requireObject(fields, where);
    for (const std::string& name : names) {
        if (const auto it = plain.find(name); it != plain.end() && it->is_object()) plain.erase(name);
    }
    return plain;
}

namespace {

// ---------------------------------------------------------------------------
// The SDK V2 payload: its header, then the body of one form.

// The bodies of the forms that follow the header, each as a record of its
// fields, and a form as one record: the header's fields, then its body's.
struct InfoBody {
    ps::AppInfoPack info;
    template <class R, class V> static void fields(R& r, V& v) { v("info", r.info); }
};
struct RawBody {
    std::string body;
    template <class R, class V> static void fields(R& r, V& v) { v("body", r.body); }
};
template <class Body> struct HeaderAnd {
    ps::AppHeaderV2 header;
    Body body;
    template <class R, class V> static void fields(R& r, V& v) {
        ps::AppHeaderV2::fields(r.header, v);
        Body::fields(r.body, v);
    }
};
using InfoForm = HeaderAnd<InfoBody>;
using DataForm = HeaderAnd<ps::AppDataV2>;
using RawForm = HeaderAnd<RawBody>;

struct V2FormKeys {
    const char* name;
    std::vector<std::string_view> (*keys)();
    Json (*pattern)(const Json&, const std::string&);
};

template <typename F> Json formPattern(const Json& in, const std::string& where) { return patternOf<F>(in, where); }

// In the order encoding picks them.
const V2FormKeys kV2Forms[] = {
    {"uplink", fieldNames<ps::AppUplinkV2>, formPattern<ps::AppUplinkV2>},
    {"app info", fieldNames<InfoForm>, formPattern<InfoForm>},
    {"app data", fieldNames<DataForm>, formPattern<DataForm>},
    {"any other body", fieldNames<RawForm>, formPattern<RawForm>},
};

// Every key of the payload, for messages: the header's, then each form's.
std::string v2KeysText() {
    const std::vector<std::string_view> header = fieldNames<ps::AppHeaderV2>();
    std::string text = "fields: ";
    for (const std::string_view key : header) text += std::string(key) + ", ";
    text += "then those of one form: ";
    for (const V2FormKeys& form : kV2Forms) {
        std::string keys;
        for (const std::string_view key : form.keys()) {
            if (std::find(header.begin(), header.end(), key) == header.end()) {
                keys += (keys.empty() ? "" : ", ") + std::string(key);
            }
        }
        text += keys + " (" + form.name + (&form == std::end(kV2Forms) - 1 ? ")" : "); ");
    }
    return text;
}

// Throws InputError for a key that no form of the payload has.
void rejectUnknownV2Keys(const Json& in, const std::string& where) {
    for (auto member = in.begin(); member != in.end(); ++member) {
        const std::string& key = member.key();
        const bool known = std::any_of(std::begin(kV2Forms), std::end(kV2Forms), [&key](const V2FormKeys& form) {
            const std::vector<std::string_view> keys = form.keys();
            return std::find(keys.begin(), keys.end(), key) != keys.end();
        });
        if (!known) throw InputError(where + ": unknown field \"" + key + "\" (" + v2KeysText() + ")");
    }
}

// Reads the fields of `part` that `in` gives; the keys were checked before.
template <typename R> void readPart(const Json& in, R& part, const std::string& where) {
    JsonReader reader(in, where);
    R::fields(part, reader);
}

// Adds the fields of `part` to `out`.
template <typename R> void writePart(Json& out, const R& part) {
    JsonWriter writer(out);
    R::fields(part, writer);
}

std::string encodeV2(const Json& in, const std::string& where) {
    requireObject(in, where);
    rejectUnknownV2Keys(in, where);
    const auto has = [&in](const char* key) { return in.contains(key); };
    ps::AppHeaderV2 header;
    readPart(in, header, where);

    pakt::BlockBuffer buffer;
    pakt::Pack p(buffer);
    if (has("uid") || has("sid")) {
        rejectUnknownKeys(in, fieldNames<ps::AppUplinkV2>(), where + " (uplink form)");
        ps::AppUplinkV2 uplink;
        readPart(in, uplink, where);
        pakt::packFields(uplink, p);
    } else if (has("info")) {
        rejectUnknownKeys(in, fieldNames<InfoForm>(), where + " (app info form)");
        pakt::packFields(header, p);
        const std::string info = encodeFromJson<ps::AppInfoPack>(in["info"], where + ".info");
        p.push(info.data(), info.size());
    } else if (has("appData") || has("reserved1") || has("reserved2")) {
        rejectUnknownKeys(in, fieldNames<DataForm>(), where + " (app data form)");
        ps::AppDataV2 body;
        readPart(in, body, where);
        pakt::packFields(header, p);
        pakt::packFields(body, p);
    } else {
        rejectUnknownKeys(in, fieldNames<RawForm>(), where);
        const std::string body = has("body") ? toBytes(in["body"], where + ".body") : std::string();
        pakt::packFields(header, p);
        p.push(body.data(), body.size());
    }
    return p.str();
}

// One reading of a V2 payload, kept only if it re-encodes to `bytes`.
using V2Form = std::optional<Json> (*)(std::string_view bytes);

std::optional<Json> exactV2(std::string_view bytes, Json candidate) {
    if (encodeV2(candidate, "payload") != bytes) return std::nullopt;
    return candidate;
}

// What `read` makes of a reader over `bytes`; nothing when they run short.
template <typename F> std::optional<Json> tryReading(std::string_view bytes, F&& read) {
    try {
        pakt::Unpack up(bytes.data(), bytes.size());
        return read(up);
    } catch (const pakt::UnpackError&) {
        return std::nullopt;
    }
}

std::optional<Json> v2DownTyped(std::string_view bytes) {
    return tryReading(bytes, [bytes](pakt::Unpack& up) -> std::optional<Json> {
        ps::AppHeaderV2 header;
        pakt::unpackFields(header, up);
        Json out = toJson(header);
        if (header.appMsgType == ps::kAppMsgDeleteApp || header.appMsgType == ps::kAppMsgAddApp) {
            ps::AppInfoPack info;
            pakt::unpackFields(info, up);
            out["info"] = toJson(info);
        } else if (header.appMsgType == ps::kAppMsgAppData) {
            ps::AppDataV2 body;
            pakt::unpackFields(body, up);
            writePart(out, body);
        } else {
            return std::nullopt;
        }
        if (!up.empty()) return std::nullopt;
        return exactV2(bytes, std::move(out));
    });
}

std::optional<Json> v2Up(std::string_view bytes) {
    return tryReading(bytes, [bytes](pakt::Unpack& up) -> std::optional<Json> {
        ps::AppUplinkV2 uplink;
        pakt::unpackFields(uplink, up);
        if (!up.empty()) return std::nullopt;
        return exactV2(bytes, toJson(uplink));
    });
}

// Header and raw body: fits every payload of at least a header's length.
std::optional<Json> v2Raw(std::string_view bytes) {
    return tryReading(bytes, [](pakt::Unpack& up) -> std::optional<Json> {
        ps::AppHeaderV2 header;
        pakt::unpackFields(header, up);
        Json out = toJson(header);
        out["body"] = toHex(std::string_view(up.data(), up.size()));
        return out;
    });
}

}  // namespace

std::optional<Json> decodeV2(std::string_view bytes, Direction direction) {
    const V2Form down[] = {v2DownTyped, v2Up, v2Raw};
    const V2Form up[] = {v2Up, v2DownTyped, v2Raw};
    for (const V2Form form : direction == Direction::Down ? down : up) {
        if (auto out = form(bytes)) return out;
    }
    return std::nullopt;
}

Decoded decodeSdkV2Payload(std::string_view bytes, Direction direction) {
    if (auto out = decodeV2(bytes, direction)) return {*out, bytes.size()};
    // Shorter than its header: let the reader say what ran short.
    pakt::Unpack up(bytes.data(), bytes.size());
    ps::AppHeaderV2 header;
    pakt::unpackFields(header, up);
    return {};
}

std::vector<FieldSpan> sdkV2PayloadSpans(std::string_view bytes, Direction direction) {
    const std::optional<Json> form = decodeV2(bytes, direction);
    if (form && form->contains("uid")) return fieldSpansOf<ps::AppUplinkV2>(bytes);
    std::vector<FieldSpan> spans = fieldSpansOf<ps::AppHeaderV2>(bytes);
    const std::size_t at = spans.back().end;
    const auto addBody = [&spans, at](std::vector<FieldSpan> body, const std::string& prefix) {
        for (FieldSpan& span : body) spans.push_back({prefix + span.path, at + span.begin, at + span.end});
    };
    // Bytes that hold a header always read in some form (the raw body at least).
    if (form->contains("info")) {
        addBody(fieldSpansOf<ps::AppInfoPack>(bytes.substr(at)), "info.");
        spans.push_back({"info", at, bytes.size()});
    } else if (form->contains("appData")) {
        addBody(fieldSpansOf<ps::AppDataV2>(bytes.substr(at)), "");
    } else {
        spans.push_back({"body", at, bytes.size()});
    }
    return spans;
}

std::string encodeSdkV2Payload(const Json& in, const std::string& where) { return encodeV2(in, where); }

Json sdkV2Pattern(const Json& in, const std::string& where) {
    requireObject(in, where);
    rejectUnknownV2Keys(in, where);
    for (const V2FormKeys& form : kV2Forms) {
        const std::vector<std::string_view> keys = form.keys();
        const bool fits = std::all_of(in.items().begin(), in.items().end(), [&keys](const auto& member) {
            return std::find(keys.begin(), keys.end(), member.key()) != keys.end();
        });
        if (fits) return form.pattern(in, where);
    }
    throw InputError(where + ": the fields of two forms, which no payload has together (" + v2KeysText() + ")");
}

}  // namespace sapphost
