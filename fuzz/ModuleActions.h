// fuzz_module's action language, shared by the target (which reads it) and
// the corpus generator (which writes scenarios in it). A program is a
// sequence of actions; each is
//
//   action byte (its value modulo Count), slot byte (session 0 or 1, modulo 2),
//   then the action's arguments:
//     Open          -
//     Packet        URI index (kUris), result (< 240: 200), u16 length, body
//     ZippedNotice  kind (odd: PAddAppReq), u16 length, payload before zlib,
//                   id count (modulo 5), ids (modulo 8); PAddAppReq: u16
//                   length and its sidApps
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
//                   works again): a call of the slot's session, or the
//                   unmarshal of the packets that follow
//
// Integers are little-endian; a read past the end gives 0 or nothing.
#pragma once

#include <cstdint>

#include "host/SessionEvent.h"
#include "protocol/SessionRecords.h"

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
    Count
};

// The sids of the two session slots, then the other values events may
// carry: few enough that the host finds every context the module may hold.
inline constexpr uint32_t kSids[] = {1234, 5678, 4321, 0};
inline constexpr uint32_t kUris[] = {
    protocol::session::URI_ADD_APP_REQ,       protocol::session::URI_DEL_APP_REQ,
    protocol::session::URI_USER_MSG3,         protocol::session::URI_APP_MSG_TO_CLIENT,
    protocol::session::URI_ADD_ANNOUNCE_APPS, protocol::session::URI_SET_CUR_ANNOUNCE_APP,
    protocol::session::URI_GET_APPS_REQ};
inline constexpr int32_t kEvents[] = {protocol::session::EVENT_SESS_SID_ASID, protocol::session::EVENT_SESS_USER_INFO,
                                      protocol::session::EVENT_SESS_LEAVE,    protocol::session::EVENT_SESS_PID,
                                      protocol::session::EVENT_SESS_QUERY_APPS, 8001};

}  // namespace sappfuzz
