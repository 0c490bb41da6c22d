#include "tools/sapp-host/RecordJson.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <type_traits>
#include <vector>

#include <zlib.h>

#include "host/ClientEvents.h"
#include "marshal/BlockBuffer.h"
#include "marshal/Marshallable.h"
#include "marshal/Pack.h"
#include "marshal/Unpack.h"
#include "protocol/AppPayloads.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"

namespace sapphost {

namespace ps = protocol::session;
namespace pl = vessaplugin::appMgr;

namespace {

// clang-format off
// ---------------------------------------------------------------------------
// Field lists. Each names the fields of a record in wire order; the visitor
// either writes them to JSON or reads them from JSON.

template <typename V> void describe(ps::PGetAppsReq& r, V& v) {
    v("uid", r.uid)("sid", r.sid)("sGroupId", r.sGroupId)("reserved1", r.reserved1)("reserved2", r.reserved2)
        ("extra", r.extra);
}
template <typename V> void describe(ps::PGetAnnounceApps& r, V& v) {
    v("sid", r.sid)("pid", r.pid)("uid", r.uid)("extra", r.extra);
}
template <typename V> void describe(ps::PAddAppReq& r, V& v) {
    v("sid", r.sid)("appPacks", r.appPacks)("sidApps", r.sidApps)("appIds", r.appIds)
        ("appPacksZipped", r.appPacksZipped)("appPacksLen", r.appPacksLen)("sidAppsZipped", r.sidAppsZipped)
        ("sidAppsLen", r.sidAppsLen)("idSet", r.idSet)("reserved", r.reserved)("context", r.context);
}
template <typename V> void describe(ps::PDelAppReq& r, V& v) {
    v("sid", r.sid)("sidApps", r.sidApps)("appIds", r.appIds)("sidAppsZipped", r.sidAppsZipped)
        ("sidAppsLen", r.sidAppsLen)("context", r.context);
}
template <typename V> void describe(ps::PUserMsg3& r, V& v) {
    v("idList1", r.idList1)("idList2", r.idList2)("proxyId", r.proxyId)("reserved1", r.reserved1)
        ("msgType", r.msgType)("reserved2", r.reserved2)("reserved3", r.reserved3)("data", r.data);
}
template <typename V> void describe(ps::PAppMsgToClient& r, V& v) {
    v("reserved1", r.reserved1)("idList", r.idList)("reserved2", r.reserved2)("appId", r.appId)
        ("srcId", r.srcId)("reserved3", r.reserved3)("reserved4", r.reserved4)("reserved5", r.reserved5)
        ("seqNum", r.seqNum)("appMsgType", r.appMsgType)("data", r.data);
}
template <typename V> void describe(ps::PAppMsgToSDK& r, V& v) {
    v("sid", r.sid)("uid", r.uid)("appId", r.appId)("seqNum", r.seqNum)("reserved1", r.reserved1)
        ("proxyIds", r.proxyIds)("reserved2", r.reserved2)("extra", r.extra)("data", r.data);
}
template <typename V> void describe(ps::VersionItem& r, V& v) {
    v("num1", r.num1)("num2", r.num2)("num3", r.num3)("str1", r.str1)("str2", r.str2);
}
template <typename V> void describe(ps::AppInfoPack& r, V& v) {
    v("appId", r.appId)("proxyId", r.proxyId)("str1", r.str1)("str2", r.str2)("num", r.num)
        ("versions", r.versions)("flag", r.flag);
}
template <typename V> void describe(ps::AppInfoPack3& r, V& v) {
    v("appId", r.appId)("proxyIds", r.proxyIds)("str1", r.str1)("str2", r.str2)("num", r.num)
        ("versions", r.versions)("flag", r.flag);
}
template <typename V> void describe(ps::PAppSdkInfo& r, V& v) { v("proxyIds", r.proxyIds); }
template <typename V> void describe(pl::PluginVerItem& r, V& v) {
    v("num1", r.num1)("str1", r.str1)("str2", r.str2)("str3", r.str3)("num2", r.num2)("num3", r.num3)
        ("str4", r.str4);
}
template <typename V> void describe(pl::PluginAppPack& r, V& v) {
    v("appId", r.appId)("str1", r.str1)("str2", r.str2)("str3", r.str3)("num1", r.num1)("short1", r.short1)
        ("short2", r.short2)("short3", r.short3)("versions", r.versions)("num2", r.num2)("byte1", r.byte1)
        ("proxyIds", r.proxyIds)("sdkVersion", r.sdkVersion)("str4", r.str4);
}
template <typename V> void describe(pl::PluginAppPackMap& r, V& v) { v("apps", r.apps); }
template <typename V> void describe(pl::PluginSid2Apps& r, V& v) { v("appIds", r.appIds); }
template <typename V> void describe(pl::PluginSidAttr& r, V& v) { v("num", r.num)("str", r.str); }
template <typename V> void describe(pl::PluginSid2AppsMap& r, V& v) {
    v("sidApps", r.sidApps)("sidAttrs", r.sidAttrs);
}

// Client event records (written only).
template <typename V> void describe(ClientVersionItem& r, V& v) {
    v("num1", r.num1)("num2", r.num2)("num3", r.num3)("str1", r.str1)("str2", r.str2);
}
template <typename V> void describe(ClientAppInfo& r, V& v) {
    v("appId", r.appId)("str1", r.str1)("str2", r.str2)("num", r.num)("versions", r.versions)("flag", r.flag);
}
template <typename V> void describe(AppAddedEvent& r, V& v) { v("info", r.info); }
template <typename V> void describe(AppsAddedEvent& r, V& v) {
    v("sid", r.sid)("appPacks", r.appPacks)("sidApps", r.sidApps)("appIds", r.appIds)("context", r.context);
}
template <typename V> void describe(AppRemovedEvent& r, V& v) {
    v("appId", r.appId)("flag", r.flag)("str2", r.str2);
}
template <typename V> void describe(AppsDeletedEvent& r, V& v) {
    v("sid", r.sid)("sidApps", r.sidApps)("appIds", r.appIds)("context", r.context);
}
template <typename V> void describe(AppDataEvent& r, V& v) { v("appId", r.appId)("data", r.data); }
template <typename V> void describe(AnnounceAppsEvent& r, V& v) { v("body", r.body); }
// clang-format on

// ---------------------------------------------------------------------------
// Generic conversion of field values.

template <typename T> struct IsVector : std::false_type {};
template <typename E> struct IsVector<std::vector<E>> : std::true_type {};
template <typename T> struct IsSet : std::false_type {};
template <typename E> struct IsSet<std::set<E>> : std::true_type {};
template <typename T> struct IsMap : std::false_type {};
template <typename E> struct IsMap<std::map<uint32_t, E>> : std::true_type {};

template <typename T> Json toJson(const T& value);

struct Writer {
    Json out = Json::object();
    template <typename T> Writer& operator()(const char* name, const T& value) {
        out[name] = toJson(value);
        return *this;
    }
};

template <typename T> Json toJson(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return value;
    } else if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
        return static_cast<uint64_t>(value);
    } else if constexpr (std::is_same_v<T, std::string>) {
        return toHex(value);
    } else if constexpr (std::is_same_v<T, std::wstring>) {
        return wideToUtf8(value);
    } else if constexpr (IsVector<T>::value || IsSet<T>::value) {
        Json out = Json::array();
        for (const auto& element : value) out.push_back(toJson(element));
        return out;
    } else if constexpr (IsMap<T>::value) {
        Json out = Json::object();
        for (const auto& [key, element] : value) out[std::to_string(key)] = toJson(element);
        return out;
    } else {
        // The field lists take mutable records so that one list serves both
        // directions; the Writer only reads through it.
        Writer writer;
        describe(const_cast<T&>(value), writer);
        return std::move(writer.out);
    }
}

template <typename T> void fromJson(const Json& in, T& value, const std::string& where);

// Reads the named fields of one record and rejects keys it does not have.
class Reader {
public:
    Reader(const Json& in, const std::string& where) : m_in(requireObject(in, where)), m_where(where) {}

    template <typename T> Reader& operator()(const char* name, T& field) {
        m_names.push_back(name);
        if (const auto it = m_in.find(name); it != m_in.end()) fromJson(*it, field, m_where + "." + name);
        return *this;
    }

    void finish() const {
        for (const auto& [key, value] : m_in.items()) {
            if (std::find(m_names.begin(), m_names.end(), key) != m_names.end()) continue;
            std::string list;
            for (const std::string& n : m_names) list += (list.empty() ? "" : ", ") + n;
            throw InputError(m_where + ": unknown field \"" + key + "\" (fields: " + list + ")");
        }
    }

private:
    const Json& m_in;
    std::string m_where;
    std::vector<std::string> m_names;
};

template <typename T> void fromJson(const Json& in, T& value, const std::string& where) {
    if constexpr (std::is_same_v<T, bool>) {
        value = toBool(in, where);
    } else if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
        value = toUnsigned<T>(in, where);
    } else if constexpr (std::is_same_v<T, std::string>) {
        value = toBytes(in, where);
    } else if constexpr (IsVector<T>::value || IsSet<T>::value) {
        if (!in.is_array()) throw InputError(where + ": expected an array, got " + describeType(in));
        for (std::size_t i = 0; i < in.size(); ++i) {
            typename T::value_type element{};
            fromJson(in[i], element, where + "[" + std::to_string(i) + "]");
            if constexpr (IsVector<T>::value) {
                value.push_back(std::move(element));
            } else {
                value.insert(std::move(element));
            }
        }
    } else if constexpr (IsMap<T>::value) {
        requireObject(in, where);
        for (const auto& [key, element] : in.items()) {
            const uint32_t k = parseDecimalU32(key, where);
            typename T::mapped_type v{};
            fromJson(element, v, where + "." + key);
            value.emplace(k, std::move(v));
        }
    } else {
        Reader reader(in, where);
        describe(value, reader);
        reader.finish();
    }
}

template <typename R> std::string marshalToString(const R& record) {
    pakt::BlockBuffer buffer;
    pakt::Pack pack(buffer);
    record.marshal(pack);
    return pack.str();
}

// ---------------------------------------------------------------------------
// zlib, as the host's decompression expects it: one complete zlib stream.

std::string deflateBytes(std::string_view bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                 static_cast<uLong>(bytes.size())) != Z_OK) {
        throw InputError("zlib compression failed");
    }
    out.resize(size);
    return out;
}

// The bytes of a zlib stream that inflates to exactly `length` bytes.
std::optional<std::string> inflateExactly(std::string_view bytes, uint32_t length) {
    constexpr uint32_t kMaxLength = 64u * 1024 * 1024;
    if (bytes.empty() || length == 0 || length > kMaxLength) return std::nullopt;
    std::string out(length, '\0');
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const bool complete = result == Z_STREAM_END && stream.avail_in == 0 && stream.avail_out == 0;
    inflateEnd(&stream);
    if (!complete) return std::nullopt;
    return out;
}

// ---------------------------------------------------------------------------
// Records decoded as a whole, and nested payloads decoded cleanly.

template <typename R> Decoded decodeWhole(std::string_view bytes, R& record) {
    pakt::Unpack up(bytes.data(), bytes.size());
    record.unmarshal(up);
    return {toJson(record), bytes.size() - up.size()};
}

// The JSON of `bytes` as record R if they decode with nothing left over and
// re-encode to the same bytes.
template <typename R> std::optional<Json> decodeClean(std::string_view bytes) {
    R record;
    pakt::Unpack up(bytes.data(), bytes.size());
    try {
        record.unmarshal(up);
    } catch (const pakt::UnpackError&) {
        return std::nullopt;
    }
    if (!up.empty() || marshalToString(record) != bytes) return std::nullopt;
    return toJson(record);
}

template <typename R> std::string encodeFromJson(const Json& in, const std::string& where) {
    R record;
    fromJson(in, record, where);
    return marshalToString(record);
}

// A nested payload as JSON: an object where it decodes cleanly (after
// inflating when `zipped`), else its hex.
Json payloadJson(const std::string& bytes, bool zipped, uint32_t length,
                 const std::function<std::optional<Json>(std::string_view)>& decode) {
    if (!zipped) {
        if (auto object = decode(bytes)) return *object;
        return toHex(bytes);
    }
    const auto inflated = inflateExactly(bytes, length);
    if (inflated && deflateBytes(*inflated) == bytes) {
        if (auto object = decode(*inflated)) return *object;
    }
    return toHex(bytes);
}

// The bytes of a nested payload field given as `value`: hex as it is, or an
// object encoded with `encode` and compressed when `zipped`. `lengthField`
// receives the uncompressed size unless the input gives one.
std::string payloadBytes(const Json& value, bool zipped, const std::string& where,
                         const std::function<std::string(const Json&, const std::string&)>& encode,
                         uint32_t* lengthField, bool lengthGiven) {
    if (!value.is_object()) return toBytes(value, where);
    const std::string plain = encode(value, where);
    if (lengthField && !lengthGiven) *lengthField = static_cast<uint32_t>(plain.size());
    return zipped ? deflateBytes(plain) : plain;
}

// `fields` without the payload fields given as objects, for the generic
// reader; those are encoded on their own.
Json withoutObjects(const Json& fields, std::initializer_list<const char*> names, const std::string& where) {
    Json plain = requireObject(fields, where);
    for (const char* name : names) {
        if (const auto it = plain.find(name); it != plain.end() && it->is_object()) plain.erase(name);
    }
    return plain;
}

// ---------------------------------------------------------------------------
// The SDK V2 payload.

Json v2Header(pakt::Unpack& up) {
    Json out = Json::object();
    out["seqNum"] = up.pop_uint32();
    out["appMsgType"] = up.pop_uint8();
    out["appId"] = up.pop_uint32();
    return out;
}

std::string encodeV2Payload(const Json& in, const std::string& where) {
    requireObject(in, where);
    const auto has = [&in](const char* key) { return in.contains(key); };
    const auto num = [&](const char* key, auto zero) {
        return has(key) ? toUnsigned<decltype(zero)>(in[key], where + "." + key) : zero;
    };
    const auto bytes = [&](const char* key) { return has(key) ? toBytes(in[key], where + "." + key) : std::string(); };

    pakt::BlockBuffer buffer;
    pakt::Pack p(buffer);
    p.push_uint32(num("seqNum", uint32_t{0}))
        .push_uint8(num("appMsgType", uint8_t{0}))
        .push_uint32(num("appId", uint32_t{0}));
    if (has("uid") || has("sid")) {
        rejectUnknownKeys(in, {"seqNum", "appMsgType", "appId", "uid", "sid", "appData"}, where + " (uplink form)");
        p.push_uint64(num("uid", uint64_t{0})).push_uint32(num("sid", uint32_t{0})).push_varstr(bytes("appData"));
    } else if (has("info")) {
        rejectUnknownKeys(in, {"seqNum", "appMsgType", "appId", "info"}, where + " (app info form)");
        const std::string info = encodeFromJson<ps::AppInfoPack>(in["info"], where + ".info");
        p.push(info.data(), info.size());
    } else if (has("appData") || has("reserved1") || has("reserved2")) {
        rejectUnknownKeys(in, {"seqNum", "appMsgType", "appId", "reserved1", "reserved2", "appData"},
                          where + " (app data form)");
        p.push_uint32(num("reserved1", uint32_t{0})).push_uint32(num("reserved2", uint32_t{0}));
        p.push_varstr(bytes("appData"));
    } else {
        rejectUnknownKeys(in, {"seqNum", "appMsgType", "appId", "body"}, where);
        const std::string body = bytes("body");
        p.push(body.data(), body.size());
    }
    return p.str();
}

// One reading of a V2 payload, kept only if it re-encodes to `bytes`.
using V2Form = std::optional<Json> (*)(std::string_view bytes);

std::optional<Json> exactV2(std::string_view bytes, Json candidate) {
    if (encodeV2Payload(candidate, "payload") != bytes) return std::nullopt;
    return candidate;
}

std::optional<Json> v2DownTyped(std::string_view bytes) {
    try {
        pakt::Unpack up(bytes.data(), bytes.size());
        Json out = v2Header(up);
        const auto type = out["appMsgType"].get<unsigned>();
        if (type == ps::kAppMsgDeleteApp || type == ps::kAppMsgAddApp) {
            ps::AppInfoPack info;
            info.unmarshal(up);
            out["info"] = toJson(info);
        } else if (type == ps::kAppMsgAppData) {
            out["reserved1"] = up.pop_uint32();
            out["reserved2"] = up.pop_uint32();
            out["appData"] = toHex(up.pop_varstr());
        } else {
            return std::nullopt;
        }
        if (!up.empty()) return std::nullopt;
        return exactV2(bytes, std::move(out));
    } catch (const pakt::UnpackError&) {
        return std::nullopt;
    }
}

std::optional<Json> v2Up(std::string_view bytes) {
    try {
        pakt::Unpack up(bytes.data(), bytes.size());
        Json out = v2Header(up);
        out["uid"] = up.pop_uint64();
        out["sid"] = up.pop_uint32();
        out["appData"] = toHex(up.pop_varstr());
        if (!up.empty()) return std::nullopt;
        return exactV2(bytes, std::move(out));
    } catch (const pakt::UnpackError&) {
        return std::nullopt;
    }
}

// Header and raw body: fits every payload of at least a header's length.
std::optional<Json> v2Raw(std::string_view bytes) {
    try {
        pakt::Unpack up(bytes.data(), bytes.size());
        Json out = v2Header(up);
        out["body"] = toHex(std::string_view(up.data(), up.size()));
        return out;
    } catch (const pakt::UnpackError&) {
        return std::nullopt;
    }
}

std::optional<Json> decodeV2Payload(std::string_view bytes, Direction direction) {
    const V2Form down[] = {v2DownTyped, v2Up, v2Raw};
    const V2Form up[] = {v2Up, v2DownTyped, v2Raw};
    for (const V2Form form : direction == Direction::Down ? down : up) {
        if (auto out = form(bytes)) return out;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Records with nested payloads.

Decoded decodeAddAppReq(std::string_view bytes, Direction) {
    ps::PAddAppReq r;
    Decoded d = decodeWhole(bytes, r);
    d.fields["appPacks"] =
        payloadJson(r.appPacks, r.appPacksZipped != 0, r.appPacksLen, decodeClean<pl::PluginAppPackMap>);
    d.fields["sidApps"] =
        payloadJson(r.sidApps, r.sidAppsZipped != 0, r.sidAppsLen, decodeClean<pl::PluginSid2AppsMap>);
    return d;
}

std::string encodeAddAppReq(const Json& in, const std::string& where) {
    ps::PAddAppReq r;
    fromJson(withoutObjects(in, {"appPacks", "sidApps"}, where), r, where);
    if (in.contains("appPacks")) {
        r.appPacks = payloadBytes(in["appPacks"], r.appPacksZipped != 0, where + ".appPacks",
                                  encodeFromJson<pl::PluginAppPackMap>, &r.appPacksLen, in.contains("appPacksLen"));
    }
    if (in.contains("sidApps")) {
        r.sidApps = payloadBytes(in["sidApps"], r.sidAppsZipped != 0, where + ".sidApps",
                                 encodeFromJson<pl::PluginSid2AppsMap>, &r.sidAppsLen, in.contains("sidAppsLen"));
    }
    return marshalToString(r);
}

Decoded decodeDelAppReq(std::string_view bytes, Direction) {
    ps::PDelAppReq r;
    Decoded d = decodeWhole(bytes, r);
    d.fields["sidApps"] =
        payloadJson(r.sidApps, r.sidAppsZipped != 0, r.sidAppsLen, decodeClean<pl::PluginSid2AppsMap>);
    return d;
}

std::string encodeDelAppReq(const Json& in, const std::string& where) {
    ps::PDelAppReq r;
    fromJson(withoutObjects(in, {"sidApps"}, where), r, where);
    if (in.contains("sidApps")) {
        r.sidApps = payloadBytes(in["sidApps"], r.sidAppsZipped != 0, where + ".sidApps",
                                 encodeFromJson<pl::PluginSid2AppsMap>, &r.sidAppsLen, in.contains("sidAppsLen"));
    }
    return marshalToString(r);
}

Decoded decodeUserMsg3(std::string_view bytes, Direction direction) {
    ps::PUserMsg3 r;
    Decoded d = decodeWhole(bytes, r);
    d.fields["data"] =
        payloadJson(r.data, false, 0, [direction](std::string_view data) { return decodeV2Payload(data, direction); });
    return d;
}

std::string encodeUserMsg3(const Json& in, const std::string& where) {
    ps::PUserMsg3 r;
    fromJson(withoutObjects(in, {"data"}, where), r, where);
    if (in.contains("data")) r.data = payloadBytes(in["data"], false, where + ".data", encodeV2Payload, nullptr, false);
    return marshalToString(r);
}

// The record of a V3 body by message type, for bodies that are records.
std::optional<Json> decodeV3Body(uint16_t appMsgType, std::string_view bytes) {
    switch (appMsgType) {
    case ps::kAppMsgDeleteApp:
    case ps::kAppMsgAddApp: return decodeClean<ps::AppInfoPack3>(bytes);
    case ps::kAppMsgUpdateProxies: return decodeClean<ps::PAppSdkInfo>(bytes);
    default: return std::nullopt;
    }
}

Decoded decodeAppMsgToClient(std::string_view bytes, Direction) {
    ps::PAppMsgToClient r;
    Decoded d = decodeWhole(bytes, r);
    d.fields["data"] =
        payloadJson(r.data, false, 0, [&r](std::string_view data) { return decodeV3Body(r.appMsgType, data); });
    return d;
}

std::string encodeAppMsgToClient(const Json& in, const std::string& where) {
    ps::PAppMsgToClient r;
    fromJson(withoutObjects(in, {"data"}, where), r, where);
    if (in.contains("data")) {
        const auto encodeBody = [&r](const Json& body, const std::string& at) {
            switch (r.appMsgType) {
            case ps::kAppMsgDeleteApp:
            case ps::kAppMsgAddApp: return encodeFromJson<ps::AppInfoPack3>(body, at);
            case ps::kAppMsgUpdateProxies: return encodeFromJson<ps::PAppSdkInfo>(body, at);
            default:
                throw InputError(at +
                                 ": a body given as an object needs appMsgType 2, 4 (AppInfoPack3) or 5 "
                                 "(PAppSdkInfo); give other bodies as hex");
            }
        };
        r.data = payloadBytes(in["data"], false, where + ".data", encodeBody, nullptr, false);
    }
    return marshalToString(r);
}

// ---------------------------------------------------------------------------
// The table of records.

template <typename R> Decoded decodeGeneric(std::string_view bytes, Direction) {
    R record;
    return decodeWhole(bytes, record);
}

Decoded decodeV2PayloadRecord(std::string_view bytes, Direction direction) {
    if (auto out = decodeV2Payload(bytes, direction)) return {*out, bytes.size()};
    // Shorter than its header: let the reader say what ran short.
    pakt::Unpack up(bytes.data(), bytes.size());
    v2Header(up);
    return {};
}

struct Codec {
    std::string_view name;
    uint32_t uri;  // 0 for records nested in others
    Decoded (*decode)(std::string_view, Direction);
    std::string (*encode)(const Json&, const std::string&);
};

const Codec kCodecs[] = {
    {"PGetAppsReq", ps::URI_GET_APPS_REQ, decodeGeneric<ps::PGetAppsReq>, encodeFromJson<ps::PGetAppsReq>},
    {"PAddAppReq", ps::URI_ADD_APP_REQ, decodeAddAppReq, encodeAddAppReq},
    {"PDelAppReq", ps::URI_DEL_APP_REQ, decodeDelAppReq, encodeDelAppReq},
    {"PGetAnnounceApps", ps::URI_GET_ANNOUNCE_APPS, decodeGeneric<ps::PGetAnnounceApps>,
     encodeFromJson<ps::PGetAnnounceApps>},
    {"PUserMsg3", ps::URI_USER_MSG3, decodeUserMsg3, encodeUserMsg3},
    {"PAppMsgToClient", ps::URI_APP_MSG_TO_CLIENT, decodeAppMsgToClient, encodeAppMsgToClient},
    {"PAppMsgToSDK", ps::URI_APP_MSG_TO_SDK, decodeGeneric<ps::PAppMsgToSDK>, encodeFromJson<ps::PAppMsgToSDK>},
    {"SdkV2Payload", 0, decodeV2PayloadRecord, encodeV2Payload},
    {"AppInfoPack", 0, decodeGeneric<ps::AppInfoPack>, encodeFromJson<ps::AppInfoPack>},
    {"AppInfoPack3", 0, decodeGeneric<ps::AppInfoPack3>, encodeFromJson<ps::AppInfoPack3>},
    {"VersionItem", 0, decodeGeneric<ps::VersionItem>, encodeFromJson<ps::VersionItem>},
    {"PAppSdkInfo", 0, decodeGeneric<ps::PAppSdkInfo>, encodeFromJson<ps::PAppSdkInfo>},
    {"PluginAppPackMap", 0, decodeGeneric<pl::PluginAppPackMap>, encodeFromJson<pl::PluginAppPackMap>},
    {"PluginAppPack", 0, decodeGeneric<pl::PluginAppPack>, encodeFromJson<pl::PluginAppPack>},
    {"PluginVerItem", 0, decodeGeneric<pl::PluginVerItem>, encodeFromJson<pl::PluginVerItem>},
    {"PluginSid2AppsMap", 0, decodeGeneric<pl::PluginSid2AppsMap>, encodeFromJson<pl::PluginSid2AppsMap>},
    {"PluginSid2Apps", 0, decodeGeneric<pl::PluginSid2Apps>, encodeFromJson<pl::PluginSid2Apps>},
    {"PluginSidAttr", 0, decodeGeneric<pl::PluginSidAttr>, encodeFromJson<pl::PluginSidAttr>},
};

const Codec* findCodec(std::string_view name) {
    for (const Codec& codec : kCodecs) {
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
    for (const Codec& codec : kCodecs) names.emplace_back(codec.name);
    return names;
}

bool isRecordName(std::string_view name) { return findCodec(name) != nullptr; }

std::string_view recordNameForUri(uint32_t uri) {
    for (const Codec& codec : kCodecs) {
        if (codec.uri != 0 && codec.uri == uri) return codec.name;
    }
    return {};
}

Decoded decodeRecord(std::string_view name, std::string_view bytes, Direction direction) {
    return codecFor(name).decode(bytes, direction);
}

std::string encodeRecord(std::string_view name, const Json& fields, const std::string& where) {
    return codecFor(name).encode(fields, where);
}

Json eventFields(const AppEvent& event) {
    switch (event.type) {
    case EVENT_APP_ADDED: return toJson(static_cast<const AppAddedEvent&>(event));
    case EVENT_APPS_ADDED: return toJson(static_cast<const AppsAddedEvent&>(event));
    case EVENT_APP_REMOVED: return toJson(static_cast<const AppRemovedEvent&>(event));
    case EVENT_APPS_DELETED: return toJson(static_cast<const AppsDeletedEvent&>(event));
    case EVENT_APP_DATA: return toJson(static_cast<const AppDataEvent&>(event));
    case EVENT_ANNOUNCE_APPS: return toJson(static_cast<const AnnounceAppsEvent&>(event));
    default: return Json::object();
    }
}

std::string_view eventName(uint32_t type) {
    switch (type) {
    case EVENT_APP_ADDED: return "EVENT_APP_ADDED";
    case EVENT_APPS_ADDED: return "EVENT_APPS_ADDED";
    case EVENT_APP_REMOVED: return "EVENT_APP_REMOVED";
    case EVENT_APPS_DELETED: return "EVENT_APPS_DELETED";
    case EVENT_APP_DATA: return "EVENT_APP_DATA";
    case EVENT_ANNOUNCE_APPS: return "EVENT_ANNOUNCE_APPS";
    default: return {};
    }
}

}  // namespace sapphost
