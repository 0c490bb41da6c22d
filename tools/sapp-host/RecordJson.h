// The one mapping between wire records, client events and JSON.
//
// Fields are named as in the record structs; u64 values are JSON integers;
// byte strings lowercase hex; wide strings UTF-8; vectors and sets arrays;
// maps objects keyed by the decimal key. Nested payload strings are shown as
// objects where they decode cleanly and as hex otherwise:
//   PAddAppReq.appPacks            PluginAppPackMap   (zlib when appPacksZipped != 0)
//   PAddAppReq.sidApps, PDelAppReq.sidApps
//                                  PluginSid2AppsMap  (zlib when sidAppsZipped != 0)
//   PUserMsg3.data                 SdkV2Payload
//   PAppMsgToClient.data           AppInfoPack3 (appMsgType 2, 4), PAppSdkInfo (5)
// "Cleanly" means the bytes decode with nothing left over and encoding the
// result gives the same bytes again (compressed ones recompressed with
// zlib's default level), so decode followed by encode always round-trips.
//
// SdkV2Payload, the SDK V2 app-platform payload inside PUserMsg3.data, has a
// header {seqNum, appMsgType, appId} and then one of these forms:
//   downlink app info (types 2, 4)  "info": AppInfoPack
//   downlink app data (type 3)      "reserved1", "reserved2", "appData"
//   uplink                          "uid", "sid", "appData"
//   any other body                  "body": hex of the bytes after the header
// When encoding, the fields present pick the form ("uid" or "sid": uplink;
// "info"; "appData" or a reserved field: downlink data; else "body"). When
// decoding, the direction says which reading of a type 3 payload is tried
// first.
//
// When encoding, an omitted field is 0 or empty; unknown keys are errors.
// A nested payload given as an object is encoded, compressed with zlib when
// its zipped flag is non-zero, and its length field (appPacksLen,
// sidAppsLen) set to the uncompressed size unless the field is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/ClientRecords.h"
#include "tools/sapp-host/JsonSupport.h"

namespace sapphost {

// Which way a record travels; decides how an SDK V2 payload is read when
// both of its forms would fit.
enum class Direction { Down, Up };

// Names of every record the mapping knows: the packet records first, then
// the nested ones.
std::vector<std::string> recordNames();
bool isRecordName(std::string_view name);
// The record carried under `uri`, or empty for URIs without one.
std::string_view recordNameForUri(uint32_t uri);

struct Decoded {
    Json fields;
    std::size_t consumed = 0;  // bytes read; any after that are ignored
};

// Decodes `bytes` as the record `name` (one of recordNames()). A truncated
// record raises pakt::UnpackError.
Decoded decodeRecord(std::string_view name, std::string_view bytes, Direction direction);

// Encodes `fields` as the record `name`. Bad fields raise InputError with a
// message that starts with `where` and names the field; a value too long
// for its encoding raises pakt::PackError.
std::string encodeRecord(std::string_view name, const Json& fields, const std::string& where);

// The fields of a client event after its head, by the event's code; an
// unknown code gives an empty object.
Json eventFields(const AppEvent& event);
// EVENT_APP_DATA and so on; empty for an unknown code.
std::string_view eventName(uint32_t type);

}  // namespace sapphost
