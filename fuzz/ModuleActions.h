// fuzz_module's action language, shared by the target (which reads it) and
// the corpus generator (which writes scenarios in it). A program is a
// sequence of actions; each is
//
//   action byte (its value modulo Count), slot byte (session 0 or 1, modulo 2),
//   then the action's arguments:
//     Open          -
//     Packet        URI index (kUris), result (< 240: 200), u16 length, body
//     ZippedNotice  kind (which of kZippedNotices, counted from the last:
//                   odd is PAddAppReq), u16 length, the first zipped
//                   payload before zlib, id count (modulo 5), ids (modulo 8),
//                   then a u16 length and the bytes of each other payload
//                   (PAddAppReq: its sidApps)
//     Request       type (< 240: 1007), app (< 16: an excluded app; else a u32
//                   modulo 8), data (< 4: 70000 bytes; else a length byte and
//                   the bytes)
//     Event         type index (kEvents), sid and asid indexes (kSids), pid
//                   byte, uid u32, length byte and udb
//     Advance       hundreds of ms
//     Leave         sid index (kSids)
//     Release       -
//     NullCalls     -   null packet and null request
//     Ask           -   URIs, request types and flag
//     UnzipLimit    < 128: the default, else a u16 limit
//     Database      odd: remove the slot's database, else a u32 dwSGroupId
//     Fault         host call index (standin::kHostCalls, modulo its size),
//                   mode (< 96: fails once, < 192: fails from now on, else
//                   works again): a call of the slot's session, of the
//                   packets that follow, or of the process (log sink,
//                   databases, pktcore's classes and functions)
//     RepeatedNotice  as ZippedNotice, but the first payload is a u16 length
//                   and a head, a u16 length and a unit, a u32 count, a u16
//                   length and a tail: head, count units, tail, cut at the
//                   host's default unzip limit (4 MiB) and at what is left
//                   of the input's inflation budget: lists of the full size
//                   from a few input bytes
//
// One input may have the host inflate kInflateBudget bytes in all: a packet
// whose zipped fields claim more than is left is not delivered. So one
// input costs at most about what two packets of the full size and 64 KB of
// others cost, and a slow input is one with a slow packet.
//
// Integers are little-endian; a read past the end gives 0 or nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/SessionEvent.h"
#include "protocol/PacketVisitor.h"

namespace sappfuzz {

enum class Action : uint8_t {
    Open,
    Packet,
    ZippedNotice,
    Request,
    Event,
    Advance,
    Leave,
    Release,
    NullCalls,
    Ask,
    UnzipLimit,
    Database,
    Fault,
    RepeatedNotice,
    Count
};

// The bytes one input may have the host inflate, in all: two zipped lists
// of the full 4 MiB.
inline constexpr std::size_t kInflateBudget = 8u << 20;

// The sids of the two session slots, then the other values events may
// carry: few enough that the host finds every context the module may hold.
inline constexpr uint32_t kSids[] = {1234, 5678, 4321, 0};

namespace detail {

namespace ps = protocol::session;

// How many rows of the packet table `keep` takes.
template <class Keep>
constexpr std::size_t countRows(Keep keep) {
    std::size_t n = 0;
    ps::forEachPacket([&](auto row) { n += keep(row) ? 1 : 0; });
    return n;
}

constexpr bool handled(auto row) { return ps::isInbound<decltype(row)>; }

}  // namespace detail

// The URIs of Packet actions, from the packet table: the packets the module
// decodes, those it relays undecoded, then one it does not handle (the first
// outbound one). The order numbers them in fuzz inputs.
inline constexpr auto kUris = [] {
    namespace ps = protocol::session;
    std::array<uint32_t, detail::countRows([](auto row) { return detail::handled(row); }) + 1> uris{};
    std::size_t n = 0;
    ps::forEachPacket([&](auto row) {
        if (detail::handled(row) && ps::isDecoded<decltype(row)>) uris[n++] = decltype(row)::uri;
    });
    ps::forEachPacket([&](auto row) {
        if (detail::handled(row) && !ps::isDecoded<decltype(row)>) uris[n++] = decltype(row)::uri;
    });
    ps::forEachPacket([&](auto row) {
        if (!detail::handled(row) && n + 1 == uris.size()) uris[n++] = decltype(row)::uri;
    });
    return uris;
}();

// The rows of ZippedNotice actions: the inbound packets with a zipped
// payload, in table order; kZippedNotices of them.
template <class P>
inline constexpr bool isZippedNotice =
    protocol::session::isInbound<P> && protocol::session::isDecoded<P> && protocol::session::hasZippedPayload<P>;
inline constexpr std::size_t kZippedNotices =
    detail::countRows([](auto row) { return isZippedNotice<decltype(row)>; });

// Writes programs of the action language (fuzz_make_corpus, fuzz_cost's
// mutations).
class ProgramBytes {
public:
    void action(Action a, uint8_t slot) {
        byte(static_cast<uint8_t>(a));
        byte(slot);
    }
    // A session opened in `slot` (slot 0: sid 1234, as perf's shapes use).
    void open(uint8_t slot = 0) { action(Action::Open, slot); }
    // A Packet action. A URI the language has no index for is sent as the
    // one the module does not handle, the last of kUris; a body is cut at
    // the 65,535 bytes its length can say.
    void packet(uint8_t slot, uint32_t uri, uint32_t res, std::string_view body) {
        auto index = static_cast<uint8_t>(kUris.size() - 1);
        for (uint8_t i = 0; i < kUris.size(); ++i) {
            if (kUris[i] == uri) index = i;
        }
        action(Action::Packet, slot);
        byte(index);
        byte(res == 200 ? 0 : 255);
        body = body.substr(0, 0xFFFF);
        u16(static_cast<uint16_t>(body.size()));
        m_out += body;
    }
    void byte(uint8_t b) { m_out += static_cast<char>(b); }
    void u16(uint16_t v) {
        byte(static_cast<uint8_t>(v));
        byte(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v) {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    }
    // A length byte and at most 255 bytes.
    void shortBytes(std::string_view s) {
        s = s.substr(0, 255);
        byte(static_cast<uint8_t>(s.size()));
        m_out += s;
    }

    const std::string& program() const { return m_out; }

private:
    std::string m_out;
};

inline constexpr int32_t kEvents[] = {protocol::session::EVENT_SESS_SID_ASID, protocol::session::EVENT_SESS_USER_INFO,
                                      protocol::session::EVENT_SESS_LEAVE,    protocol::session::EVENT_SESS_PID,
                                      protocol::session::EVENT_SESS_QUERY_APPS, 8001};

}  // namespace sappfuzz
