// The packet table (Packets.h) for its readers outside the module: the
// tools, the fuzz targets and the soak.
//
// They walk the table with one plain visitor and reach a record's payload
// fields as plain data, so the table's type lists, filters, body choices
// and payload templates stay in this folder:
//
//   forEachPacket([&](auto row) {
//       using P = decltype(row);            // P::name, P::uri, P::way, P::Record
//       if constexpr (isDecoded<P>) {
//           typename P::Record record;
//           forEachPayload(row, record, [&](const PayloadField& field) {
//               // field.name, *field.bytes, field.record, ...
//           });
//       }
//   });
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "protocol/Packets.h"

namespace protocol::session {

// Calls f(row) for each row of the table in URI order, `row` being an object
// of the row's type: its static members say the packet's name, uri and way,
// and its Record type (Undecoded for a body relayed undecoded, see
// isDecoded). Usable in constant expressions.
template <class F>
constexpr void forEachPacket(F&& f) {
    forEach(Packets{}, [&]<class P>() { f(P{}); });
}

// Rows the module sends (Out and Both); isInbound says which it handles.
template <class P> inline constexpr bool isOutbound = P::way != Way::In;

namespace detail {
template <class... F> consteval bool anyZippable(TypeList<F...>) { return (F::zippable || ...); }
}  // namespace detail

// Rows with a payload field that the server may zip (PAddAppReq, PDelAppReq).
template <class P>
inline constexpr bool hasZippedPayload =
    detail::anyZippable(typename P::template PayloadsOf<typename P::Record>{});

// One record a body chosen by its carrier's message type can be: the types
// that choose it and the record's name.
struct PayloadChoice {
    std::span<const uint32_t> types;
    std::string_view record;
};

// A payload field of one record object: pointers into that object and the
// names its field list gives them.
struct PayloadField {
    std::string_view name;  // "appPacks"
    std::string* bytes = nullptr;
    // A field the server may zip: its flag and its unzipped length
    // ("appPacksZipped", "appPacksLen"); null and empty for any other.
    uint8_t* zipped = nullptr;
    std::string_view zippedName;
    uint32_t* length = nullptr;
    std::string_view lengthName;
    // What the bytes hold: a record's name ("PluginAppPackMap"), or
    // "SdkV2Payload" for the SDK V2 payload (AppPayloads.h). For a body
    // chosen by the carrier's message type, the record that the type the
    // record holds now chooses; empty when it chooses none.
    std::string_view record;
    // For a body chosen by type: the carrier's type field ("appMsgType") and
    // every choice; empty for any other.
    std::string_view selectorName;
    std::span<const PayloadChoice> choices;

    bool isZipped() const { return zipped && *zipped != 0; }
};

namespace detail {

// Finds the name that a field list gives the member at `member`.
struct NameFinder {
    const void* member;
    std::string_view name;
    template <class E, class T> void operator()(E, const char* field, const T& value) { (*this)(field, value); }
    template <class T> void operator()(const char* field, const T& value) {
        if (static_cast<const void*>(&value) == member) name = field;
    }
};

template <class R>
std::string_view fieldName(R& record, const void* member) {
    NameFinder finder{member, {}};
    R::fields(record, finder);
    return finder.name;
}

template <class C> struct IsByType : std::false_type {};
template <auto S, class... W> struct IsByType<ByType<S, W...>> : std::true_type {};

template <class Cases> struct ChoicesOf;
template <class... W> struct ChoicesOf<TypeList<W...>> {
    static constexpr PayloadChoice value[] = {{W::types, W::Is::name}...};
};

// Field F (a row's Payload or ZippedPayload for record type R) of `record`.
template <class F, class R>
PayloadField payloadField(R& record) {
    using C = typename F::Content;
    PayloadField field;
    field.bytes = &(record.*F::bytes);
    field.name = fieldName(record, field.bytes);
    if constexpr (F::zippable) {
        static_assert(std::is_same_v<std::remove_cvref_t<decltype(record.*F::zipped)>, uint8_t> &&
                          std::is_same_v<std::remove_cvref_t<decltype(record.*F::length)>, uint32_t>,
                      "a zipped payload's flag is a u8 and its length a u32");
        field.zipped = &(record.*F::zipped);
        field.zippedName = fieldName(record, field.zipped);
        field.length = &(record.*F::length);
        field.lengthName = fieldName(record, field.length);
    }
    if constexpr (IsByType<C>::value) {
        field.selectorName = fieldName(record, &(record.*C::selector));
        field.choices = ChoicesOf<typename C::Cases>::value;
        C::select(record, [&field]<class N>() { field.record = N::name; });
    } else {
        field.record = C::name;
    }
    return field;
}

}  // namespace detail

// Calls f(field) with each payload field (PayloadField) of `record`, a
// record of row `row`, in the row's order; none for a row without payloads.
template <class P, class F>
void forEachPayload(P, typename P::Record& record, F&& f) {
    forEach(typename P::template PayloadsOf<typename P::Record>{},
            [&]<class Field>() { f(detail::payloadField<Field>(record)); });
}

}  // namespace protocol::session
