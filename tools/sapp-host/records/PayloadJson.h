// Nested payloads: string fields of records that carry another encoding,
// as the packet table (protocol/Packets.h) lists them: which field, whether
// and by which fields it is zipped, and what it holds.
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

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sapp-host/records/FieldJson.h"
#include "tools/sapp-host/records/FieldSpans.h"

namespace sapphost {

// Which way a record travels; decides how an SDK V2 payload is read when
// both of its forms would fit.
enum class Direction { Down, Up };

// The bytes a nested payload holds: `bytes` as they are, or inflated when
// `zipped` (to exactly `length` bytes, and only when zlib's default level
// compresses them back to `bytes`, so that they round-trip); nothing when
// they do not inflate so. A payload shows as an object when its record reads
// these bytes cleanly (RecordJson.cc), else as the hex of the field's bytes.
std::optional<std::string> plainPayload(const std::string& bytes, bool zipped, uint32_t length);

// The bytes of a nested payload field given as `value`: hex as it is, or an
// object encoded with `encode` and compressed when `zipped`. `lengthField`
// receives the uncompressed size unless the input gives one.
std::string payloadBytes(const Json& value, bool zipped, const std::string& where,
                         const std::function<std::string(const Json&, const std::string&)>& encode,
                         uint32_t* lengthField, bool lengthGiven);

// `fields` without the payload fields `names` given as objects, for the
// generic reader; those are encoded on their own.
Json withoutObjects(const Json& fields, const std::vector<std::string>& names, const std::string& where);

// The SDK V2 payload: the JSON of its clean reading, if any (the direction
// says which reading of a type 3 payload is tried first).
std::optional<Json> decodeV2(std::string_view bytes, Direction direction);

// The SDK V2 payload on its own. Bytes shorter than its header raise
// pakt::UnpackError.
Decoded decodeSdkV2Payload(std::string_view bytes, Direction direction);
// Where its fields lie: the header's, then those of the body in the form
// decodeV2 reads (the uplink's uid, sid and appData; the app data's
// reserved fields and appData; "info" and the fields of its AppInfoPack as
// "info.appId", ...; or the raw "body"). Bytes shorter than the header raise
// DecodeError.
std::vector<FieldSpan> sdkV2PayloadSpans(std::string_view bytes, Direction direction);
std::string encodeSdkV2Payload(const Json& in, const std::string& where);
// A check's pattern of the SDK V2 payload (patternOf in FieldJson.h): the
// keys of one of its forms.
Json sdkV2Pattern(const Json& in, const std::string& where);

}  // namespace sapphost
