// The table of records that sapp-host maps between bytes and JSON: every
// record the module sends or receives, by name and by the URI it travels
// under, and the records nested in them. Fields follow the conventions of
// FieldJson.h; nested payload strings are shown as PayloadJson.h says.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sapp-host/records/FieldJson.h"
#include "tools/sapp-host/records/PayloadJson.h"

namespace sapphost {

// Names of every record the mapping knows: the packet records first, then
// the nested ones.
std::vector<std::string> recordNames();
bool isRecordName(std::string_view name);
// The record carried under `uri`, or empty for URIs without one.
std::string_view recordNameForUri(uint32_t uri);

// Decodes `bytes` as the record `name` (one of recordNames()). A truncated
// record raises DecodeError (FieldSpans.h), which names the field that runs
// short, its byte offset and how many bytes are missing.
Decoded decodeRecord(std::string_view name, std::string_view bytes, Direction direction);

// The nested payload `field` of the record `name` decoded from `bytes`, as
// the hex of the bytes it travels as (compressed ones compressed); none when
// the field is not one of the nested payloads or the bytes do not decode.
std::optional<std::string> payloadHex(std::string_view name, std::string_view bytes, std::string_view field);

// Encodes `fields` as the record `name`. Omitted fields are 0 or empty. Bad
// fields raise InputError with a message that starts with `where` and names
// the field; a value too long for its encoding raises pakt::PackError.
std::string encodeRecord(std::string_view name, const Json& fields, const std::string& where);

// A check's pattern of the fields of record `name` (patternOf in
// FieldJson.h): nested payloads as objects of the records they hold or as
// hex, the SDK V2 payload by the keys of one of its forms.
Json recordPattern(std::string_view name, const Json& fields, const std::string& where);
// The names of the records that travel as packets, in URI order.
std::vector<std::string> packetRecordNames();
// Every URI of the packet table, those of bodies relayed undecoded too, in
// ascending order.
std::vector<uint32_t> recordUris();

// URIs as the protocol writes them: the message number and the service id,
// "1003|210" for (1003 << 8) | 210 = 256978.
std::string uriName(uint32_t uri);
// A URI given as text: decimal ("256978") or number|service ("1003|210").
// Throws InputError naming `where`.
uint32_t parseUri(std::string_view text, const std::string& where);
// A URI given as a JSON value: a number, or a string as parseUri reads it.
uint32_t uriOf(const Json& value, const std::string& where);
// "256466 (1001|210) PGetAppsReq, ...": every URI of the packet table with
// its record, for messages.
std::string urisText();

// Where each field of record `name` lies in `bytes` (FieldSpans.h); for
// SdkV2Payload, those of the form its decoding in `direction` takes
// (sdkV2PayloadSpans).
std::vector<FieldSpan> fieldSpans(std::string_view name, std::string_view bytes,
                                  Direction direction = Direction::Down);

// A nested payload of a record that decodes cleanly (one that PayloadJson.h
// shows as an object): the field carrying it, the record it holds
// ("SdkV2Payload" for the SDK V2 payload), and its bytes, inflated when the
// field is zipped.
struct NestedPayload {
    std::string field;
    std::string record;
    bool zipped = false;
    std::string bytes;
};
// The nested payloads of record `name` in `bytes`, in field order; none for
// records without payload fields. Bytes that do not decode as the record
// raise pakt::UnpackError.
std::vector<NestedPayload> nestedPayloads(std::string_view name, std::string_view bytes, Direction direction);

}  // namespace sapphost
