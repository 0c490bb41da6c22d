#include "tools/sapp-host/RecordJson.h"

#include "tools/sapp-host/FieldSpans.h"

#include "marshal/Errors.h"
#include "protocol/AppPayloads.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"

namespace sapphost {

namespace ps = protocol::session;
namespace pl = vessaplugin::appMgr;

namespace {

template <typename R> Decoded decodeGeneric(std::string_view bytes, Direction) {
    R record;
    return decodeWhole(bytes, record);
}

struct Codec {
    std::string_view name;
    uint32_t uri;  // 0 for records nested in others
    Decoded (*decode)(std::string_view, Direction);
    std::string (*encode)(const Json&, const std::string&);
    std::vector<FieldSpan> (*spans)(std::string_view);
};

const Codec kCodecs[] = {
    {"PGetAppsReq", ps::URI_GET_APPS_REQ, decodeGeneric<ps::PGetAppsReq>, encodeFromJson<ps::PGetAppsReq>, fieldSpansOf<ps::PGetAppsReq>},
    {"PAddAppReq", ps::URI_ADD_APP_REQ, decodeAddAppReq, encodeAddAppReq, fieldSpansOf<ps::PAddAppReq>},
    {"PDelAppReq", ps::URI_DEL_APP_REQ, decodeDelAppReq, encodeDelAppReq, fieldSpansOf<ps::PDelAppReq>},
    {"PGetAnnounceApps", ps::URI_GET_ANNOUNCE_APPS, decodeGeneric<ps::PGetAnnounceApps>,
     encodeFromJson<ps::PGetAnnounceApps>, fieldSpansOf<ps::PGetAnnounceApps>},
    {"PUserMsg3", ps::URI_USER_MSG3, decodeUserMsg3, encodeUserMsg3, fieldSpansOf<ps::PUserMsg3>},
    {"PAppMsgToClient", ps::URI_APP_MSG_TO_CLIENT, decodeAppMsgToClient, encodeAppMsgToClient, fieldSpansOf<ps::PAppMsgToClient>},
    {"PAppMsgToSDK", ps::URI_APP_MSG_TO_SDK, decodeGeneric<ps::PAppMsgToSDK>, encodeFromJson<ps::PAppMsgToSDK>, fieldSpansOf<ps::PAppMsgToSDK>},
    {"SdkV2Payload", 0, decodeSdkV2Payload, encodeSdkV2Payload, fieldSpansOf<ps::AppHeaderV2>},
    {"AppInfoPack", 0, decodeGeneric<ps::AppInfoPack>, encodeFromJson<ps::AppInfoPack>, fieldSpansOf<ps::AppInfoPack>},
    {"AppInfoPack3", 0, decodeGeneric<ps::AppInfoPack3>, encodeFromJson<ps::AppInfoPack3>, fieldSpansOf<ps::AppInfoPack3>},
    {"VersionItem", 0, decodeGeneric<ps::VersionItem>, encodeFromJson<ps::VersionItem>, fieldSpansOf<ps::VersionItem>},
    {"PAppSdkInfo", 0, decodeGeneric<ps::PAppSdkInfo>, encodeFromJson<ps::PAppSdkInfo>, fieldSpansOf<ps::PAppSdkInfo>},
    {"PluginAppPackMap", 0, decodeGeneric<pl::PluginAppPackMap>, encodeFromJson<pl::PluginAppPackMap>, fieldSpansOf<pl::PluginAppPackMap>},
    {"PluginAppPack", 0, decodeGeneric<pl::PluginAppPack>, encodeFromJson<pl::PluginAppPack>, fieldSpansOf<pl::PluginAppPack>},
    {"PluginVerItem", 0, decodeGeneric<pl::PluginVerItem>, encodeFromJson<pl::PluginVerItem>, fieldSpansOf<pl::PluginVerItem>},
    {"PluginSid2AppsMap", 0, decodeGeneric<pl::PluginSid2AppsMap>, encodeFromJson<pl::PluginSid2AppsMap>, fieldSpansOf<pl::PluginSid2AppsMap>},
    {"PluginSid2Apps", 0, decodeGeneric<pl::PluginSid2Apps>, encodeFromJson<pl::PluginSid2Apps>, fieldSpansOf<pl::PluginSid2Apps>},
    {"PluginSidAttr", 0, decodeGeneric<pl::PluginSidAttr>, encodeFromJson<pl::PluginSidAttr>, fieldSpansOf<pl::PluginSidAttr>},
};

// The fields of record R with every byte string as hex, nested payloads too.
template <typename R> Json plainFields(std::string_view bytes) {
    R record;
    return decodeWhole(bytes, record).fields;
}

// The string fields that carry a nested payload (PayloadJson.h).
struct PayloadField {
    std::string_view record;
    std::string_view field;
    Json (*plain)(std::string_view);
};

const PayloadField kPayloadFields[] = {
    {"PAddAppReq", "appPacks", plainFields<ps::PAddAppReq>},
    {"PAddAppReq", "sidApps", plainFields<ps::PAddAppReq>},
    {"PDelAppReq", "sidApps", plainFields<ps::PDelAppReq>},
    {"PUserMsg3", "data", plainFields<ps::PUserMsg3>},
    {"PAppMsgToClient", "data", plainFields<ps::PAppMsgToClient>},
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
    for (const PayloadField& payload : kPayloadFields) {
        if (payload.record != name || payload.field != field) continue;
        try {
            return payload.plain(bytes)[std::string(field)].get<std::string>();
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

}  // namespace sapphost
