// The parts the worst-case shapes (Shapes.cc) are built from: packets of the
// app-list notices and app-platform messages, ids in orders that defeat a
// container, maps written in a given key order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "marshal/BlockBuffer.h"
#include "marshal/Fields.h"
#include "perf/Shapes.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"

namespace perf::parts {

namespace ps = protocol::session;
namespace pl = vessaplugin::appMgr;

// Packs a record into a buffer made large enough beforehand: pakt's buffer
// grows by the blocks it needs, so packing tens of MiB element by element
// would spend minutes copying before the measurement starts.
template <typename R>
std::string packToString(const R& record, std::size_t reserve) {
    pakt::BlockBuffer buffer;
    buffer.resize(reserve);
    buffer.resize(0);
    pakt::Pack pack(buffer);
    pakt::packFields(record, pack);
    return pack.str();
}

// Room for a record of n elements, for packToString.
std::size_t room(uint32_t n);

// `plain` zipped when `zip`, with the record's flag and unzipped length set.
std::string zipIf(bool zip, const std::string& plain, uint8_t& zipped, uint32_t& length);

// A PAddAppReq for kSid with the given lists (an empty one left empty),
// zipped when `zip`.
Delivery addAppReq(ps::PAddAppReq req, const pl::PluginAppPackMap& packs, const pl::PluginSid2AppsMap& sidApps,
                   uint32_t n, bool zip);

// A PDelAppReq for kSid with the given sidApps bytes, zipped when `zip`.
Delivery delAppReqBytes(const std::vector<uint32_t>& appIds, const std::string& sidApps, uint32_t n, bool zip);

Delivery delAppReq(const std::vector<uint32_t>& appIds, const pl::PluginSid2AppsMap& sidApps, uint32_t n);

// A PAddAppReq whose zipped or plain lists are given as bytes.
Delivery addAppReqBytes(const std::string& appPacks, const std::string& sidApps, uint32_t n, bool zip);

// N map keys that no insertion hint follows and that deflate still packs
// tightly: `period` distinct keys (a power of two), each round in
// bit-reversed order (0, P/2, P/4, 3P/4, ...: every key far from the one
// before, so each is placed by a search), the same round again and again
// (each later round all duplicates). A round must fit deflate's 32 KiB
// window for the rounds after it to compress to almost nothing; the
// distinct keys a packet of 64 KB can carry at all are about 40,000 (1.5
// zipped bytes each), so the worst such packet is mostly repeats.
std::vector<uint32_t> cycled(uint32_t n, uint32_t period);

// The bytes of a map whose entries come in the order of `keys` (packing a
// std::map would write them ascending), each holding `value`.
std::string mapBytes(const std::vector<uint32_t>& keys, const std::string& value);

extern const std::string kNoEntries;  // the bytes of an empty map

// A V3 app's pack with the given proxies.
pl::PluginAppPack pack(uint32_t appId, std::vector<uint64_t> proxies);

// n proxy ids, all different, in descending order (the worst order for a
// container kept sorted by insertion).
std::vector<uint64_t> descending(uint32_t n);

// n ids that share one bucket of a standard hash table holding n entries:
// multiples of its bucket count (the standard hash of an integer is the
// integer itself). A registry kept in such a table would compare each new
// id with all the earlier ones. `reserved`: the table is sized for the n
// entries at once (as for the ids of one notice), not grown one by one.
std::vector<uint32_t> colliding(uint32_t n, bool reserved);

// sidApps listing apps `a` and `b` in turn under kSid, n listings: none
// repeats the one before.
pl::PluginSid2AppsMap inTurn(uint32_t a, uint32_t b, uint32_t n);

// n app ids the registry has not seen, from `first` on.
std::vector<uint32_t> newIds(uint32_t first, uint32_t n);

// A PAppMsgToClient of the given type, app, source and sequence number.
Delivery appMsgV3(uint16_t type, uint32_t appId, uint64_t srcId, uint32_t seqNum, std::string data);

// A PUserMsg3 that adds V2 app `appId` with `versions` version items.
Delivery addAppV2(uint32_t appId, uint64_t proxyId, uint32_t seqNum, uint32_t versions);

}  // namespace perf::parts
