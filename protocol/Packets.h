// The packet table: every packet the module sends or receives, once.
//
// A row says under which URI a packet travels, which way (seen from the
// module), which record it carries and which view of it the module decodes,
// the name the tools show it under, and which of the record's byte-run
// fields hold a nested payload: the member, the sibling flag and length
// members when the server may zip it, and what the bytes are.
//
//   packet                  URI      way       payloads
//   PGetAppsReq             256466   out
//   PAddAppReq              256978   in        appPacks: PluginAppPackMap (zip appPacksZipped, length appPacksLen)
//                                              sidApps:  PluginSid2AppsMap (zip sidAppsZipped, length sidAppsLen)
//   PDelAppReq              257490   in        sidApps:  PluginSid2AppsMap (zip sidAppsZipped, length sidAppsLen)
//   PGetAnnounceApps        819922   out
//   PAddAnnounceApps        820178   in        (body relayed undecoded)
//   PSetCurrentAnnounceApp  821202   in        (body relayed undecoded)
//   PUserMsg3               2585602  both      data: the SDK V2 payload (AppPayloads.h)
//   PAppMsgToClient         2611202  in        data: by appMsgType, AppInfoPack3 (2, 4), PAppSdkInfo (5)
//   PAppMsgToSDK            2611458  out
//
// Everything that knows packets derives from these rows at compile time:
// the module's handler table (one handler per inbound row), its unzipping
// of the app lists, and, through the plain visitor of PacketVisitor.h,
// sapp-host's decode, encode and JSON of packets and payloads, and the fuzz
// targets' and the soak's packet lists. Rows are in ascending URI order,
// which the handler table relies on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "protocol/AppPayloads.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"

namespace protocol::session {

template <class... T> struct TypeList {};

// A name given as a template argument ("PAddAppReq").
template <std::size_t N>
struct Name {
    char text[N]{};
    constexpr Name(const char (&s)[N]) {  // NOLINT: implicit, so rows can name a string literal
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
    consteval std::string_view view() const { return {text, N - 1}; }
};

// Which way a packet travels, seen from the module.
enum class Way : uint8_t { In, Out, Both };

// The record of a packet whose body the module relays without decoding it.
struct Undecoded {};

// --- What a payload's bytes are ------------------------------------------------

// Record R, shown under `name`.
template <class R, Name N>
struct Nested {
    using Record = R;
    static constexpr std::string_view name = N.view();
};

// The SDK V2 app-platform payload: AppHeaderV2, then a body chosen by its
// appMsgType (AppPayloads.h).
struct SdkV2Payload {
    static constexpr std::string_view name = "SdkV2Payload";
};

// A body whose record the message types `Types` of the carrier choose.
template <class Content, auto... Types>
struct When {
    using Is = Content;
    static constexpr uint32_t types[] = {static_cast<uint32_t>(Types)...};
    static constexpr bool matches(uint32_t type) {
        for (const uint32_t t : types) {
            if (t == type) return true;
        }
        return false;
    }
};

// A body chosen by the carrier's member `Selector` among `Whens`; a type
// that none matches has no record.
template <auto Selector, class... Whens>
struct ByType {
    static constexpr auto selector = Selector;
    using Cases = TypeList<Whens...>;

    // Calls f.template operator()<Content>() for the first case that the
    // type in `carrier` matches; false when none does.
    template <class R, class F>
    static bool select(const R& carrier, F&& f) {
        const auto type = static_cast<uint32_t>(carrier.*Selector);
        return ((Whens::matches(type) ? (f.template operator()<typename Whens::Is>(), true) : false) || ...);
    }
};

// --- The payload fields of a record ----------------------------------------------

// Member `Bytes` of the record holds a payload that is never zipped.
template <auto Bytes, class Content_>
struct Payload {
    static constexpr auto bytes = Bytes;
    static constexpr bool zippable = false;
    using Content = Content_;
};

// Member `Bytes` holds a payload that is zlib-compressed when member
// `Zipped` is non-zero; member `Length` then gives its size unzipped.
template <auto Bytes, auto Zipped, auto Length, class Content_>
struct ZippedPayload {
    static constexpr auto bytes = Bytes;
    static constexpr bool zippable = true;
    static constexpr auto zipped = Zipped;
    static constexpr auto length = Length;
    using Content = Content_;
};

// --- A row ---------------------------------------------------------------------

// Payloads are given as templates of the record type, so that one row
// describes the payload members of the record and of its view alike.
template <Name N, uint32_t Uri, Way W, class R, class V, template <class> class... Payloads>
struct Packet {
    static constexpr std::string_view name = N.view();
    static constexpr uint32_t uri = Uri;
    static constexpr Way way = W;
    using Record = R;
    using View = V;
    // The payload fields of record type T (Record or View).
    template <class T> using PayloadsOf = TypeList<Payloads<T>...>;
    static constexpr std::size_t payloadCount = sizeof...(Payloads);
};

// --- The records nested in payloads --------------------------------------------

// Every record a payload holds, directly or inside another, once, with the
// name the tools show it under: the payload rows below name these, and the
// tools' record tables and the fuzz targets' codecs walk the list in this
// order (which numbers the fuzz inputs' records).
namespace nested {
namespace pl = vessaplugin::appMgr;
using AppInfoPack = Nested<session::AppInfoPack, "AppInfoPack">;
using AppInfoPack3 = Nested<session::AppInfoPack3, "AppInfoPack3">;
using VersionItem = Nested<session::VersionItem, "VersionItem">;
using PAppSdkInfo = Nested<session::PAppSdkInfo, "PAppSdkInfo">;
using PluginAppPackMap = Nested<pl::PluginAppPackMap, "PluginAppPackMap">;
using PluginAppPack = Nested<pl::PluginAppPack, "PluginAppPack">;
using PluginVerItem = Nested<pl::PluginVerItem, "PluginVerItem">;
using PluginSid2AppsMap = Nested<pl::PluginSid2AppsMap, "PluginSid2AppsMap">;
using PluginSid2Apps = Nested<pl::PluginSid2Apps, "PluginSid2Apps">;
using PluginSidAttr = Nested<pl::PluginSidAttr, "PluginSidAttr">;
}  // namespace nested

using NestedRecords = TypeList<nested::AppInfoPack, nested::AppInfoPack3, nested::VersionItem, nested::PAppSdkInfo,
                               nested::PluginAppPackMap, nested::PluginAppPack, nested::PluginVerItem,
                               nested::PluginSid2AppsMap, nested::PluginSid2Apps, nested::PluginSidAttr>;

// The payloads of the rows below.
template <class R>
using AppPacks = ZippedPayload<&R::appPacks, &R::appPacksZipped, &R::appPacksLen, nested::PluginAppPackMap>;
template <class R>
using SidApps = ZippedPayload<&R::sidApps, &R::sidAppsZipped, &R::sidAppsLen, nested::PluginSid2AppsMap>;
template <class R>
using SdkV2Data = Payload<&R::data, SdkV2Payload>;
template <class R>
using SdkV3Data = Payload<&R::data, ByType<&R::appMsgType,
                                           When<nested::AppInfoPack3, kAppMsgDeleteApp, kAppMsgAddApp>,
                                           When<nested::PAppSdkInfo, kAppMsgUpdateProxies>>>;

// clang-format off
using GetAppsReqPacket       = Packet<"PGetAppsReq", URI_GET_APPS_REQ, Way::Out, PGetAppsReq, PGetAppsReq>;
using AddAppReqPacket        = Packet<"PAddAppReq", URI_ADD_APP_REQ, Way::In, PAddAppReq, PAddAppReqView, AppPacks, SidApps>;
using DelAppReqPacket        = Packet<"PDelAppReq", URI_DEL_APP_REQ, Way::In, PDelAppReq, PDelAppReqView, SidApps>;
using GetAnnounceAppsPacket  = Packet<"PGetAnnounceApps", URI_GET_ANNOUNCE_APPS, Way::Out, PGetAnnounceApps, PGetAnnounceApps>;
using AddAnnounceAppsPacket  = Packet<"PAddAnnounceApps", URI_ADD_ANNOUNCE_APPS, Way::In, Undecoded, Undecoded>;
using SetCurAnnounceAppPacket = Packet<"PSetCurrentAnnounceApp", URI_SET_CUR_ANNOUNCE_APP, Way::In, Undecoded, Undecoded>;
using UserMsg3Packet         = Packet<"PUserMsg3", URI_USER_MSG3, Way::Both, PUserMsg3, PUserMsg3View, SdkV2Data>;
using AppMsgToClientPacket   = Packet<"PAppMsgToClient", URI_APP_MSG_TO_CLIENT, Way::In, PAppMsgToClient, PAppMsgToClientView, SdkV3Data>;
using AppMsgToSdkPacket      = Packet<"PAppMsgToSDK", URI_APP_MSG_TO_SDK, Way::Out, PAppMsgToSDK, PAppMsgToSDK>;

using Packets = TypeList<
    GetAppsReqPacket,
    AddAppReqPacket,
    DelAppReqPacket,
    GetAnnounceAppsPacket,
    AddAnnounceAppsPacket,
    SetCurAnnounceAppPacket,
    UserMsg3Packet,
    AppMsgToClientPacket,
    AppMsgToSdkPacket>;
// clang-format on

// --- Walking the table ---------------------------------------------------------

template <class P> inline constexpr bool isInbound = P::way != Way::Out;
template <class P> inline constexpr bool isDecoded = !std::is_same_v<typename P::Record, Undecoded>;

// Calls f.template operator()<T>() for each T of the list, in order.
template <class... T, class F>
constexpr void forEach(TypeList<T...>, F&& f) {
    (f.template operator()<T>(), ...);
}

// The list of the Ts of a list for which Keep<T>::value holds, in order.
template <template <class> class Keep, class List> struct Filter;
template <template <class> class Keep>
struct Filter<Keep, TypeList<>> {
    using Type = TypeList<>;
};
template <template <class> class Keep, class T, class... Rest>
struct Filter<Keep, TypeList<T, Rest...>> {
    using Tail = typename Filter<Keep, TypeList<Rest...>>::Type;
    template <class... U> static TypeList<T, U...> prepend(TypeList<U...>);
    using Type = std::conditional_t<Keep<T>::value, decltype(prepend(Tail{})), Tail>;
};

template <class P> struct IsInbound : std::bool_constant<isInbound<P>> {};

// The packets the module handles, in URI order.
using InboundPackets = typename Filter<IsInbound, Packets>::Type;

// Compile-time helpers are consteval: they never run in the program, so
// they can neither cost anything nor stand as unrun lines in its coverage.
template <class... T>
consteval std::size_t count(TypeList<T...>) {
    return sizeof...(T);
}

template <class... P>
consteval bool ascending(TypeList<P...>) {
    uint32_t last = 0;
    return ((last < P::uri ? (last = P::uri, true) : false) && ...);
}
static_assert(ascending(Packets{}), "the packet table is in ascending URI order");

}  // namespace protocol::session
