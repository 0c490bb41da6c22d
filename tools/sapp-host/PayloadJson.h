// Nested payloads: string fields of records that carry another encoding.
//
//   PAddAppReq.appPacks            PluginAppPackMap   (zlib when appPacksZipped != 0)
//   PAddAppReq.sidApps, PDelAppReq.sidApps
//                                  PluginSid2AppsMap  (zlib when sidAppsZipped != 0)
//   PUserMsg3.data                 SdkV2Payload
//   PAppMsgToClient.data           AppInfoPack3 (appMsgType 2, 4), PAppSdkInfo (5)
//
// A payload is shown as an object where it decodes cleanly and as hex
// otherwise. "Cleanly" means the bytes decode with nothing left over and
// encoding the result gives the same bytes again (compressed ones
// recompressed with zlib's default level), so decode followed by encode
// always round-trips. When encoding, a payload given as an object is
// encoded, compressed with zlib when its zipped flag is non-zero, and its
// length field (appPacksLen, sidAppsLen) set to the uncompressed size unless
// the field is given.
//
// SdkV2Payload, the SDK V2 app-platform payload inside PUserMsg3.data, is
// the header {seqNum, appMsgType, appId} and then one of these forms:
//   downlink app info (types 2, 4)  "info": AppInfoPack
//   downlink app data (type 3)      "reserved1", "reserved2", "appData"
//   uplink                          "uid", "sid", "appData"
//   any other body                  "body": hex of the bytes after the header
// When encoding, the fields present pick the form ("uid" or "sid": uplink;
// "info"; "appData" or a reserved field: downlink data; else "body"). When
// decoding, the direction says which reading of a type 3 payload is tried
// first.
#pragma once

#include <string>
#include <string_view>

#include "tools/sapp-host/FieldJson.h"

namespace sapphost {

// Which way a record travels; decides how an SDK V2 payload is read when
// both of its forms would fit.
enum class Direction { Down, Up };

// The records with payload fields, with their payloads shown as above.
Decoded decodeAddAppReq(std::string_view bytes, Direction direction);
std::string encodeAddAppReq(const Json& in, const std::string& where);
Decoded decodeDelAppReq(std::string_view bytes, Direction direction);
std::string encodeDelAppReq(const Json& in, const std::string& where);
Decoded decodeUserMsg3(std::string_view bytes, Direction direction);
std::string encodeUserMsg3(const Json& in, const std::string& where);
Decoded decodeAppMsgToClient(std::string_view bytes, Direction direction);
std::string encodeAppMsgToClient(const Json& in, const std::string& where);

// The SDK V2 payload on its own. Bytes shorter than its header raise
// pakt::UnpackError.
Decoded decodeSdkV2Payload(std::string_view bytes, Direction direction);
std::string encodeSdkV2Payload(const Json& in, const std::string& where);

}  // namespace sapphost
