#include "tools/sapp-host/records/RecordJson.h"

#include <cstdint>
#include <regex>
#include <set>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>
#include <zlib.h>

#include "marshal/BlockBuffer.h"
#include "marshal/Errors.h"
#include "marshal/Pack.h"
#include "marshal/Unpack.h"
#include "protocol/ClientEvents.h"
#include "protocol/PacketVisitor.h"
#include "tools/sapp-host/records/EventJson.h"
#include "tools/sapp-host/records/FieldSpans.h"
#include "tools/sapp-host/scenario/Matcher.h"

namespace sapphost {
namespace {

namespace ps = protocol::session;

std::string encodeHex(std::string_view record, const Json& fields) {
    return toHex(encodeRecord(record, fields, "fields"));
}

Json decodeHex(std::string_view record, const std::string& hex, Direction direction = Direction::Down) {
    const std::string bytes = fromHex(hex);
    Decoded decoded = decodeRecord(record, bytes, direction);
    EXPECT_EQ(decoded.consumed, bytes.size()) << record;
    return decoded.fields;
}

// One example of every record, with fields that differ from their defaults
// where it matters (u64 extremes, raw bytes, nested payloads as objects).
// Records inside arrays are given whole: arrays compare exactly.
struct Example {
    const char* record;
    const char* fields;
};

const Example kExamples[] = {
    {"PGetAppsReq", R"({"uid": 100, "sid": 1234, "sGroupId": 78, "reserved1": 1, "reserved2": 4294967295,
                        "extra": "00ff"})"},
    {"PAddAppReq", R"({"sid": 7, "appPacks": {"apps": {"5": {"appId": 5, "proxyIds": [50], "sdkVersion": 2}}},
                       "sidApps": {"sidApps": {"7": {"appIds": [5]}}, "sidAttrs": {"7": {"num": 1, "str": "6162"}}},
                       "appIds": [5, 5], "appPacksZipped": 1, "sidAppsZipped": 0, "idSet": [3, 9],
                       "reserved": 2, "context": "637478"})"},
    {"PDelAppReq", R"({"sid": 7, "sidApps": {"sidApps": {}, "sidAttrs": {}}, "appIds": [5], "sidAppsZipped": 1,
                       "context": ""})"},
    {"PGetAnnounceApps", R"({"sid": 5, "pid": 6, "uid": 7, "extra": ""})"},
    {"PUserMsg3", R"({"idList1": [1], "idList2": [], "proxyId": 18446744073709551615, "msgType": 1,
                      "data": {"seqNum": 9, "appMsgType": 3, "appId": 5, "reserved1": 0, "reserved2": 0,
                               "appData": "6869"}})"},
    {"PAppMsgToClient", R"({"reserved1": 65535, "idList": [4], "appId": 6, "srcId": 60, "reserved3": 9007199254740993,
                            "seqNum": 4294967295, "appMsgType": 4,
                            "data": {"appId": 6, "proxyIds": [60, 61], "str1": "c3a9", "flag": true,
                                     "versions": [{"num1": 1, "num2": 0, "num3": 0, "str1": "00", "str2": "41"}]}})"},
    {"PAppMsgToSDK", R"({"sid": 1, "uid": 2, "appId": 3, "seqNum": 4, "reserved1": 5, "proxyIds": [10, 30],
                         "reserved2": 6, "extra": "ab", "data": "cd"})"},
    {"SdkV2Payload", R"({"seqNum": 1, "appMsgType": 3, "appId": 5, "uid": 4294967396, "sid": 1234, "appData": "70"})"},
    {"AppInfoPack", R"({"appId": 1, "proxyId": 2, "str1": "61", "str2": "62", "num": 3,
                        "versions": [{"num1": 1, "num2": 2, "num3": 3, "str1": "", "str2": "7a"}], "flag": true})"},
    {"AppInfoPack3", R"({"appId": 1, "proxyIds": [2, 3], "str1": "", "str2": "", "num": 0, "versions": [],
                         "flag": false})"},
    {"VersionItem", R"({"num1": 4294967295, "num2": 0, "num3": 1, "str1": "ff", "str2": ""})"},
    {"PAppSdkInfo", R"({"proxyIds": [18446744073709551615, 0]})"},
    {"PluginAppPackMap", R"({"apps": {"4294967295": {"appId": 1, "byte1": 7, "short1": 65535}}})"},
    {"PluginAppPack", R"({"appId": 1, "str1": "61", "str2": "", "str3": "63", "num1": 1, "short1": 2, "short2": 3,
                          "short3": 4, "num2": 5, "byte1": 255, "proxyIds": [6], "sdkVersion": 3, "str4": "65",
                          "versions": [{"num1": 1, "str1": "", "str2": "", "str3": "", "num2": 0, "num3": 0,
                                        "str4": "64"}]})"},
    {"PluginVerItem", R"({"num1": 1, "str1": "", "str2": "", "str3": "", "num2": 2, "num3": 3, "str4": "00"})"},
    {"PluginSid2AppsMap", R"({"sidApps": {"1": {"appIds": [1, 2]}, "10": {"appIds": []}}, "sidAttrs": {}})"},
    {"PluginSid2Apps", R"({"appIds": [4294967295]})"},
    {"PluginSidAttr", R"({"num": 1, "str": "6162"})"},
};

TEST(RecordJsonTest, EveryRecordRoundTripsThroughBytesAndFields) {
    std::set<std::string> covered;
    for (const Example& example : kExamples) {
        SCOPED_TRACE(example.record);
        covered.insert(example.record);
        const Json given = Json::parse(example.fields);
        const std::string hex = encodeHex(example.record, given);
        const Json fields = decodeHex(example.record, hex);
        // Everything given comes back (nested payloads as objects again)...
        EXPECT_TRUE(partialMatch(given, fields)) << fields.dump();
        // ...and the full decoding encodes to the very same bytes.
        EXPECT_EQ(encodeHex(example.record, fields), hex);
    }
}

// Gives every field of a record a value of its own: integers count up, each
// string holds two bytes, each container one element (a set two), nested
// records are filled the same way.
struct DistinctFiller {
    uint64_t next = 1;

    template <class E, class T>
    void operator()(E, const char*, T& value) {
        fill(value);
    }
    template <class T>
    void operator()(const char*, T& value) {
        fill(value);
    }

    template <class T>
    void fill(T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            value = true;
        } else if constexpr (std::is_integral_v<T>) {
            value = static_cast<T>(next++);
        } else if constexpr (std::is_same_v<T, std::string>) {
            value = {static_cast<char>(next++), static_cast<char>(next++)};
        } else if constexpr (pakt::KeyedContainer<T>) {
            fill(value[static_cast<uint32_t>(next++)]);
        } else if constexpr (pakt::Container<T>) {
            pakt::ElementOf<T> element{};
            fill(element);
            if constexpr (requires { value.push_back(element); }) {
                value.push_back(element);
            } else {
                value.insert(element);
                pakt::ElementOf<T> other{};
                fill(other);
                value.insert(other);
            }
        } else {
            T::fields(value, *this);
        }
    }
};

// Every record of the schema, packets and nested records alike, decodes to
// its fields in list order and round-trips through them with a value in
// every field, so that a record added to the schema is checked here without
// an example of its own; the examples above pin the forms of the fields
// (hex, objects, extremes). A decoded row's URI names its record, and no
// other URI names one.
TEST(RecordJsonTest, EveryRecordOfTheSchemaRoundTripsThroughItsFields) {
    std::set<std::string> covered;
    const auto roundTrip = [&covered]<class R>(std::string_view name, Direction direction) {
        SCOPED_TRACE(std::string(name));
        covered.insert(std::string(name));
        R record;
        DistinctFiller filler;
        filler.fill(record);
        pakt::BlockBuffer buffer;
        pakt::Pack pack(buffer);
        record.marshal(pack);
        const std::string bytes = pack.str();
        const Decoded decoded = decodeRecord(name, bytes, direction);
        EXPECT_EQ(decoded.consumed, bytes.size());
        std::vector<std::string_view> keys;
        for (const auto& [key, value] : decoded.fields.items()) keys.push_back(key);
        EXPECT_EQ(keys, fieldNames<R>());
        EXPECT_EQ(toHex(encodeRecord(name, decoded.fields, "fields")), toHex(bytes)) << decoded.fields.dump();
    };
    ps::forEachPacket([&](auto row) {
        using P = decltype(row);
        if constexpr (ps::isDecoded<P>) {
            EXPECT_EQ(recordNameForUri(P::uri), P::name);
            roundTrip.template operator()<typename P::Record>(P::name, P::way == ps::Way::Out ? Direction::Up
                                                                                                : Direction::Down);
        } else {
            EXPECT_EQ(recordNameForUri(P::uri), "") << P::name;
        }
    });
    EXPECT_EQ(recordNameForUri(256770), "");
    ps::forEach(ps::NestedRecords{}, [&]<class N>() {
        roundTrip.template operator()<typename N::Record>(N::name, Direction::Down);
    });
    for (const Example& example : kExamples) covered.insert(example.record);
    for (const std::string& name : recordNames()) EXPECT_TRUE(covered.count(name)) << name << " is not checked";
}

TEST(RecordJsonTest, KnownEncodings) {
    const Example known[] = {
        {"PGetAnnounceApps", R"({"sid": 5, "pid": 6, "uid": 7})"},
        {"PluginSidAttr", R"({"num": 1, "str": "6162"})"},
        {"PluginAppPackMap", R"({})"},
        {"PluginSid2AppsMap", R"({})"},
        {"PluginAppPack", R"({"byte1": 7})"},
        {"PAppSdkInfo", R"({"proxyIds": [1]})"},
    };
    const char* bytes[] = {
        "0500000006000000070000000000",
        "0100000002006162",
        "00000000",
        "0000000000000000",
        "00000000000000000000000000000000000000000000000000000000"
        "07"
        "0000000000000000",
        "010000000100000000000000",
    };
    // PluginAppPack: 28 zero bytes up to byte1, then 7, then 8 zero bytes (37 in all).
    for (std::size_t i = 0; i < std::size(known); ++i) {
        SCOPED_TRACE(known[i].record);
        EXPECT_EQ(encodeHex(known[i].record, Json::parse(known[i].fields)), bytes[i]);
    }
}

TEST(RecordJsonTest, ZippedPayloadIsCompressedWithItsUncompressedLength) {
    const Json fields = Json::parse(R"({"appPacks": {"apps": {"5": {"appId": 5}}}, "appPacksZipped": 1,
                                        "sidApps": {"sidApps": {}, "sidAttrs": {}}, "sidAppsZipped": 1,
                                        "sidAppsLen": 99})");
    const std::string bytes = encodeRecord("PAddAppReq", fields, "fields");
    const std::string plain = encodeRecord("PluginAppPackMap", fields["appPacks"], "appPacks");

    // On the wire: a zlib stream that inflates to the plain encoding, and
    // the uncompressed size in appPacksLen.
    protocol::session::PAddAppReq record;
    pakt::Unpack up(bytes.data(), bytes.size());
    record.unmarshal(up);
    ASSERT_EQ(record.appPacksLen, plain.size());
    std::string inflated(plain.size(), '\0');
    uLongf size = static_cast<uLongf>(inflated.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(inflated.data()), &size,
                         reinterpret_cast<const Bytef*>(record.appPacks.data()),
                         static_cast<uLong>(record.appPacks.size())),
              Z_OK);
    EXPECT_EQ(inflated, plain);

    // Decoded: the object again; a length given explicitly is kept, and a
    // zipped field whose length does not fit its content stays hex.
    const Json decoded = decodeHex("PAddAppReq", toHex(bytes));
    EXPECT_TRUE(jsonEqual(decoded["appPacks"], decodeHex("PluginAppPackMap", toHex(plain))));
    EXPECT_EQ(decoded["sidAppsLen"], 99);
    EXPECT_EQ(decoded["sidApps"], toHex(record.sidApps));
    EXPECT_EQ(encodeHex("PAddAppReq", decoded), toHex(bytes));
}

TEST(RecordJsonTest, PayloadsThatDoNotDecodeCleanlyStayHex) {
    const struct {
        const char* record;
        const char* fields;
        const char* field;
    } cases[] = {
        // Too short for a V2 header.
        {"PUserMsg3", R"({"data": "0102"})", "data"},
        // An AppInfoPack3 whose flag byte is 2 would re-encode as 1.
        {"PAppMsgToClient", R"({"appMsgType": 4, "data": "01000000000000000000000000000000000002"})", "data"},
        // Bytes left over after the body.
        {"PAppMsgToClient", R"({"appMsgType": 5, "data": "00000000ff"})", "data"},
        // V3 data messages carry the client's bytes, never decoded.
        {"PAppMsgToClient", R"({"appMsgType": 3, "data": "00000000"})", "data"},
        // Not a PluginSid2AppsMap (the second map is missing).
        {"PDelAppReq", R"({"sidApps": "00000000"})", "sidApps"},
        // Marked zipped but not a zlib stream.
        {"PAddAppReq", R"({"appPacks": "00000000", "appPacksZipped": 1, "appPacksLen": 4})", "appPacks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields);
        const Json given = Json::parse(c.fields);
        const std::string hex = encodeHex(c.record, given);
        const Json decoded = decodeHex(c.record, hex);
        EXPECT_EQ(decoded[c.field], given[c.field]);
        EXPECT_EQ(encodeHex(c.record, decoded), hex);
    }
}

TEST(RecordJsonTest, SdkV2PayloadFormIsChosenByFieldsAndDirection) {
    // A downlink data message and an uplink message of the same header.
    const std::string down = encodeHex("SdkV2Payload", Json::parse(
        R"({"seqNum": 1, "appMsgType": 3, "appId": 5, "reserved1": 7, "reserved2": 8, "appData": "6869"})"));
    const std::string up = encodeHex("SdkV2Payload", Json::parse(
        R"({"seqNum": 1, "appMsgType": 3, "appId": 5, "uid": 9, "sid": 10, "appData": "6869"})"));
    EXPECT_EQ(down, "01000000" "03" "05000000" "07000000" "08000000" "0200" "6869");
    EXPECT_EQ(up, "01000000" "03" "05000000" "0900000000000000" "0a000000" "0200" "6869");
    // Each reads back in its own form whichever direction is preferred,
    // since only one form consumes the bytes exactly.
    for (const Direction direction : {Direction::Down, Direction::Up}) {
        EXPECT_TRUE(decodeHex("SdkV2Payload", down, direction).contains("reserved1"));
        EXPECT_TRUE(decodeHex("SdkV2Payload", up, direction).contains("uid"));
    }
    // Bodies of other types, and app info bodies, by their fields.
    const Json other = decodeHex("SdkV2Payload", "02000000" "09" "05000000" "abcd");
    EXPECT_EQ(other["body"], "abcd");
    const std::string info = encodeHex("SdkV2Payload", Json::parse(
        R"({"seqNum": 2, "appMsgType": 4, "appId": 5, "info": {"appId": 5, "proxyId": 50}})"));
    EXPECT_EQ(decodeHex("SdkV2Payload", info)["info"]["proxyId"], 50);
}

TEST(RecordJsonTest, BadFieldsNameThePlaceAndReason) {
    const struct {
        const char* record;
        const char* fields;
        const char* message;
    } cases[] = {
        {"PGetAppsReq", R"({"uid": 1, "colour": 2})", "fields: unknown field \"colour\""},
        {"PGetAppsReq", R"({"uid": -1})", "fields.uid: expected an integer from 0 to 4294967295"},
        {"PGetAppsReq", R"({"uid": 4294967296})", "fields.uid: expected an integer from 0 to 4294967295"},
        {"PGetAppsReq", R"({"uid": 1.5})", "fields.uid: expected an integer"},
        {"PGetAppsReq", R"({"extra": "abc"})", "fields.extra: odd number of hex digits (a byte string is hex, "},
        {"PGetAppsReq", R"({"extra": "0x0z"})", "fields.extra: 'z' at offset 3 is not a hex digit"},
        {"PGetAppsReq", R"({"extra": 5})", "fields.extra: expected a byte string (hex, \"0x\" and hex, or text), got"},
        {"PAddAppReq", R"({"appPacksZipped": 256})", "fields.appPacksZipped: expected an integer from 0 to 255"},
        {"PAddAppReq", R"({"appIds": {"1": 2}})", "fields.appIds: expected an array"},
        {"PAddAppReq", R"({"appPacks": {"apps": {"x": {}}}})", "fields.appPacks.apps: key \"x\" is not a decimal"},
        {"PAddAppReq", R"({"appPacks": {"apps": {"5": {"sdkVersion": 70000}}}})",
         "fields.appPacks.apps.5.sdkVersion: expected an integer from 0 to 65535"},
        {"AppInfoPack", R"({"flag": 1})", "fields.flag: expected true or false"},
        {"PAppMsgToClient", R"({"appMsgType": 3, "data": {}})", "fields.data: a body given as an object needs"},
        {"SdkV2Payload", R"({"uid": 1, "info": {}})", "fields (uplink form): unknown key \"info\""},
        // Every field of every form, for a key that none has.
        {"SdkV2Payload", R"({"appID": 1})",
         "fields: unknown field \"appID\" (fields: seqNum, appMsgType, appId, then those of one form: uid, sid, "
         "appData (uplink); info (app info); reserved1, reserved2, appData (app data); body (any other body))"},
        {"PUserMsg3", R"([1, 2])", "fields: expected an object, got an array"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields);
        try {
            encodeRecord(c.record, Json::parse(c.fields), "fields");
            ADD_FAILURE() << "no error";
        } catch (const InputError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    // A varstr16 longer than its encoding allows is the marshaller's error.
    EXPECT_THROW(encodeRecord("VersionItem", Json{{"str1", std::string(2 * 65536, 'a')}}, "fields"), pakt::PackError);
}

// Every prefix of every example's bytes runs short somewhere; the error
// names that field and says where it starts and how many bytes it lacks,
// consistently with the prefix's length.
TEST(RecordJsonTest, TruncatedBytesNameTheFieldItsOffsetAndTheMissingBytes) {
    const std::regex shortRead(R"(^(\S+): .+ at byte (\d+) needs (\d+) bytes?; (\d+) left, (\d+) missing$)");
    const std::regex shortString(
        R"(^(\S+): (\d+) bytes?, as its length at byte (\d+) says; (\d+) left, (\d+) missing$)");
    for (const Example& example : kExamples) {
        const std::string bytes = encodeRecord(example.record, Json::parse(example.fields), "fields");
        // An SDK V2 payload's body is whatever follows its 9-byte header.
        const std::size_t prefixes = std::string_view(example.record) == "SdkV2Payload" ? 9 : bytes.size();
        for (std::size_t n = 0; n < prefixes; ++n) {
            SCOPED_TRACE(std::string(example.record) + " cut to " + std::to_string(n) + " bytes");
            try {
                decodeRecord(example.record, bytes.substr(0, n), Direction::Down);
                ADD_FAILURE() << "decoded";
            } catch (const DecodeError& e) {
                std::cmatch m;
                if (std::regex_match(e.what(), m, shortRead)) {
                    EXPECT_EQ(std::stoul(m[2]) + std::stoul(m[4]), n) << e.what();
                    EXPECT_EQ(std::stoul(m[3]) - std::stoul(m[4]), std::stoul(m[5])) << e.what();
                } else if (std::regex_match(e.what(), m, shortString)) {
                    EXPECT_LT(std::stoul(m[3]) + std::stoul(m[4]), n) << e.what();
                    EXPECT_EQ(std::stoul(m[2]) - std::stoul(m[4]), std::stoul(m[5])) << e.what();
                } else {
                    ADD_FAILURE() << e.what();
                }
            }
        }
    }
    const auto message = [](const char* record, const char* hex) -> std::string {
        try {
            decodeRecord(record, fromHex(hex), Direction::Down);
        } catch (const DecodeError& e) {
            return e.what();
        }
        return "decoded";
    };
    EXPECT_EQ(message("PGetAppsReq", "010000"), "uid: a u32 at byte 0 needs 4 bytes; 3 left, 1 missing");
    EXPECT_EQ(message("PluginAppPackMap", "02000000" "09000000"),
              "apps.9.appId: a u32 at byte 8 needs 4 bytes; 0 left, 4 missing");
    EXPECT_EQ(message("PDelAppReq", "07000000" "05000000" "6869"),
              "sidApps: 5 bytes, as its length at byte 4 says; 2 left, 3 missing");
    EXPECT_EQ(message("PDelAppReq", "07000000" "00000000" "02000000" "05000000"),
              "appIds[1]: a u32 at byte 16 needs 4 bytes; 0 left, 4 missing");
    // Bytes after the record are reported, not decoded.
    const std::string bytes = fromHex("0500000006000000070000000000" "ee");
    EXPECT_EQ(decodeRecord("PGetAnnounceApps", bytes, Direction::Down).consumed, bytes.size() - 1);
}

// Every field and element has its span, inner ones before the one that
// holds them: nested fields named through their record, elements by index,
// map entries by key, an entry's span holding its key.
TEST(RecordJsonTest, FieldSpansFollowTheWire) {
    const std::string bytes = fromHex("02000000"                                    // sidApps: 2 entries
                                      "01000000" "02000000" "0a000000" "0b000000"  //   1: appIds [10, 11]
                                      "09000000" "00000000"                        //   9: appIds []
                                      "01000000"                                    // sidAttrs: 1 entry
                                      "01000000" "03000000" "0200" "6162");         //   1: num 3, str "ab"
    std::string spans;
    for (const FieldSpan& span : fieldSpans("PluginSid2AppsMap", bytes)) {
        spans += span.path + " " + std::to_string(span.begin) + "-" + std::to_string(span.end) + "\n";
    }
    EXPECT_EQ(spans,
              "sidApps.1.appIds[0] 12-16\n" "sidApps.1.appIds[1] 16-20\n" "sidApps.1.appIds 8-20\n"
              "sidApps.1 4-20\n" "sidApps.9.appIds 24-28\n" "sidApps.9 20-28\n" "sidApps 0-28\n"
              "sidAttrs.1.num 36-40\n" "sidAttrs.1.str 40-44\n" "sidAttrs.1 32-44\n" "sidAttrs 28-44\n");
    // The entry whose key cannot be read is named by its index.
    try {
        fieldSpans("PluginSid2AppsMap", bytes.substr(0, 22));
        ADD_FAILURE() << "no error";
    } catch (const DecodeError& e) {
        EXPECT_STREQ(e.what(), "sidApps[1]: the key (a u32) at byte 20 needs 4 bytes; 2 left, 2 missing");
    }
}

// The SDK V2 payload's body has spans too, in the form its decoding takes:
// a check that names a field of the body can point at exactly its bytes.
TEST(RecordJsonTest, SdkV2PayloadSpansFollowItsForm) {
    const auto spans = [](const std::string& hex, Direction direction) {
        std::string out;
        for (const FieldSpan& span : fieldSpans("SdkV2Payload", fromHex(hex), direction)) {
            out += span.path + " " + std::to_string(span.begin) + "-" + std::to_string(span.end) + "\n";
        }
        return out;
    };
    const std::string header = "01000000" "03" "05000000";  // seqNum 1, appMsgType 3, appId 5
    const std::string heads = "seqNum 0-4\n" "appMsgType 4-5\n" "appId 5-9\n";
    // Uplink: uid (u64), sid, appData "hi".
    const std::string uplink = header + "0b00000001000000" "01000000" "0200" "6869";
    EXPECT_EQ(spans(uplink, Direction::Up), heads + "uid 9-17\n" "sid 17-21\n" "appData 21-25\n");
    // Downlink app data: two reserved u32, appData.
    const std::string data = header + "00000000" "00000000" "0200" "6869";
    EXPECT_EQ(spans(data, Direction::Down), heads + "reserved1 9-13\n" "reserved2 13-17\n" "appData 17-21\n");
    // App info (type 4): the AppInfoPack's fields under "info", then "info" itself.
    const std::string info = "01000000" "04" "0d000000"  // seqNum 1, appMsgType 4, appId 13
                             "0d000000" "8200000000000000" "0000" "0000" "00000000" "00000000" "00";
    EXPECT_EQ(spans(info, Direction::Down),
              "seqNum 0-4\n" "appMsgType 4-5\n" "appId 5-9\n" "info.appId 9-13\n" "info.proxyId 13-21\n"
              "info.str1 21-23\n" "info.str2 23-25\n" "info.num 25-29\n" "info.versions 29-33\n"
              "info.flag 33-34\n" "info 9-34\n");
    // Any other body is one run of bytes.
    EXPECT_EQ(spans("01000000" "09" "05000000" "ffff", Direction::Down), heads + "body 9-11\n");
    EXPECT_THROW(fieldSpans("SdkV2Payload", fromHex("01000000" "03"), Direction::Down), DecodeError);
}

// Every decoded packet of the table is a record of the mapping, with the
// fields of its field list in order, payload fields included; a packet
// relayed undecoded, or a URI of no row, names no record.
// A payload is read and written by the codec of the record it holds: a
// record the table names that the mapping lacks would leave its payloads
// unreadable.
TEST(RecordJsonTest, EveryPayloadHoldsARecordOfTheMapping) {
    std::set<std::string> held;
    ps::forEachPacket([&](auto row) {
        using P = decltype(row);
        if constexpr (ps::isDecoded<P>) {
            typename P::Record record;
            ps::forEachPayload(row, record, [&](const ps::PayloadField& field) {
                if (!field.record.empty()) held.emplace(field.record);
                for (const ps::PayloadChoice& choice : field.choices) held.emplace(choice.record);
            });
        }
    });
    EXPECT_EQ(held, (std::set<std::string>{"AppInfoPack3", "PAppSdkInfo", "PluginAppPackMap", "PluginSid2AppsMap",
                                           "SdkV2Payload"}));
    for (const std::string& name : held) EXPECT_TRUE(isRecordName(name)) << name;
}

TEST(RecordJsonTest, EventFieldsByCode) {
    AppAddedEvent added;
    added.info.appId = 5;
    added.info.str1 = L"caf\u00e9";
    added.info.versions.push_back({1, 2, 3, std::string("\x00\x01", 2), L"\U0001F600"});
    added.info.flag = true;
    EXPECT_TRUE(jsonEqual(eventFields(added), Json::parse(R"({"info": {"appId": 5, "str1": "café", "str2": "",
        "num": 0, "versions": [{"num1": 1, "num2": 2, "num3": 3, "str1": "0001", "str2": "😀"}], "flag": true}})")));
    // Readable: wide strings are text even where they look like hex, byte
    // strings are text where printable and where that text would not read
    // back as hex, else hex after 0x.
    added.info.str2 = L"abcd";
    added.info.versions[0].str2 = L"a\"b";
    added.info.versions.push_back({0, 0, 0, "abcd", L""});
    added.info.versions.push_back({0, 0, 0, "a bc", L""});
    EXPECT_EQ(writeDisplay(displayEventFields(EVENT_APP_ADDED, eventFields(added))),
              R"({"info":{"appId":5,"str1":"café","str2":"abcd","num":0,"versions":[)"
              R"({"num1":1,"num2":2,"num3":3,"str1":"0x0001","str2":"a\"b"},)"
              R"({"num1":0,"num2":0,"num3":0,"str1":"0x61626364","str2":""},)"
              R"({"num1":0,"num2":0,"num3":0,"str1":"0x61206263","str2":""}],"flag":true}})");

    AppsDeletedEvent deleted;
    deleted.sid = 7;
    deleted.sidApps.sidApps[10].appIds = {1};
    deleted.appIds = {1};
    EXPECT_TRUE(jsonEqual(eventFields(deleted), Json::parse(R"({"sid": 7,
        "sidApps": {"sidApps": {"10": {"appIds": [1]}}, "sidAttrs": {}}, "appIds": [1], "context": ""})")));

    AppEvent unknown;
    unknown.type = 999;
    EXPECT_TRUE(eventFields(unknown).empty());
    EXPECT_EQ(eventName(EVENT_APP_DATA), "EVENT_APP_DATA");
    EXPECT_EQ(eventName(999), "");
}

TEST(JsonSupportTest, HexAndWideText) {
    EXPECT_EQ(toHex(std::string("\x00\xab\xff", 3)), "00abff");
    EXPECT_EQ(fromHex("00 AB ff"), std::string("\x00\xab\xff", 3));
    EXPECT_EQ(fromHex("0x00AB"), std::string("\x00\xab", 2));
    EXPECT_THROW(fromHex("0 0"), InputError);
    // Byte strings as readable output writes them: hex after 0x, hex alone,
    // or text; every byte string's display reads back as its bytes.
    EXPECT_EQ(readByteString("0x6869"), "hi");
    EXPECT_EQ(readByteString("68 69"), "hi");
    EXPECT_EQ(readByteString("echo"), "echo");
    EXPECT_EQ(readByteString(""), "");
    EXPECT_THROW(readByteString("0x6"), InputError);
    EXPECT_THROW(readByteString("686"), InputError);
    for (const std::string& bytes :
         std::vector<std::string>{"echo", "", "cafe", "0x12", " ", "a b", std::string("\x00\xff", 2), "\"\\", "\"hi\"",
                                  "\"\"", "\"", "\"a\"b\""}) {
        const std::string shown = displayBytes(bytes);
        EXPECT_EQ(readByteString(Json::parse(shown).get<std::string>()), bytes) << shown;
    }
    EXPECT_EQ(displayBytes("echo"), "\"echo\"");
    EXPECT_EQ(displayBytes("cafe"), "\"0x63616665\"");
    // A string in double quotes is what it quotes, read by the same rules,
    // as decode reads '"hi"': one meaning for one form. Bytes that would
    // read so are shown as hex; a quote that opens no JSON string is text.
    EXPECT_EQ(readByteString("\"hi\""), "hi");
    EXPECT_EQ(readByteString("\"cafe\""), "\xca\xfe");
    EXPECT_EQ(readByteString("\"\\\"hi\\\"\""), "hi") << "quoted twice";
    EXPECT_EQ(readByteString("\"\""), "");
    EXPECT_EQ(readByteString("\"a\"b\""), "\"a\"b\"");
    EXPECT_EQ(displayBytes("\"hi\""), "\"0x22686922\"");
    EXPECT_EQ(displayBytes("a\"b"), "\"a\\\"b\"");
    EXPECT_EQ(wideToUtf8(L"a\u00e9\u20ac\U0001F600"), "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    std::wstring lone(1, static_cast<wchar_t>(0xD800));
    EXPECT_EQ(wideToUtf8(lone), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace sapphost
