#include "fuzz/CostMutator.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

#include "fuzz/ModuleActions.h"
#include "protocol/AppPayloads.h"
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "tools/sapp-host/records/FieldJson.h"
#include "tools/sapp-host/records/Zlib.h"

namespace sappfuzz {
namespace {

namespace ps = protocol::session;

// The most a list may inflate to: the host's default unzip limit.
constexpr std::size_t kListBytes = standin::kDefaultUnzipLimit;
// The most a packet's body may hold: what a Packet action's length can say.
constexpr std::size_t kBodyBytes = 0xFFFF;

class Draw {
public:
    explicit Draw(uint32_t seed) : m_random(seed) {}
    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(m_random() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }
    // 1 to `most`, spread evenly over the powers of two: as often a
    // handful as a million.
    uint32_t size(uint32_t most) {
        unsigned bits = 0;
        while ((uint64_t{2} << bits) <= most) ++bits;
        const uint32_t low = uint32_t{1} << below(bits + 1);
        return std::min(most, low + below(low));
    }
    uint32_t any() { return static_cast<uint32_t>(m_random()); }

private:
    std::mt19937 m_random;
};

// Little-endian values appended to a byte string, the wire's encoding.
class Bytes {
public:
    void u8(uint8_t v) { put(&v, 1); }
    void u16(uint16_t v) { put(&v, 2); }
    void u32(uint32_t v) { put(&v, 4); }
    void u64(uint64_t v) { put(&v, 8); }
    std::size_t size() const { return m_out.size(); }
    std::string take() { return std::move(m_out); }

private:
    void put(const void* v, std::size_t n) {
        // The hosts this runs on are little-endian, as the wire is.
        m_out.append(static_cast<const char*>(v), n);
    }
    std::string m_out;
};

// n keys: ascending, in bit-reversed rounds of `period` (each key far from
// the one before, every round after the first all repeats), or drawn from a
// pool of `period` random keys.
std::vector<uint32_t> keys(Draw& draw, uint32_t n, uint32_t period) {
    std::vector<uint32_t> out;
    out.reserve(n);
    const uint32_t mode = draw.below(3);
    const uint32_t base = draw.chance(50) ? 1 : draw.any();
    unsigned bits = 0;
    while ((uint32_t{1} << bits) < period) ++bits;
    std::vector<uint32_t> pool(period);
    for (uint32_t& k : pool) k = draw.any();
    for (uint32_t i = 0; i < n; ++i) {
        if (mode == 0) {
            out.push_back(base + i);
        } else if (mode == 1) {
            uint32_t reversed = 0;
            for (unsigned b = 0; b < bits; ++b) reversed |= ((i >> b) & 1u) << (bits - 1 - b);
            out.push_back(base + reversed);
        } else {
            out.push_back(pool[draw.below(period)]);
        }
    }
    return out;
}

// n listings of the ids in `pool`: one id in long runs, a few in turn, or
// any of them each time.
std::vector<uint32_t> listings(Draw& draw, uint32_t n, const std::vector<uint32_t>& pool) {
    std::vector<uint32_t> out;
    out.reserve(n);
    const auto pick = [&] { return pool.empty() ? draw.any() : pool[draw.below(static_cast<uint32_t>(pool.size()))]; };
    const uint32_t mode = draw.below(3);
    std::vector<uint32_t> turn(2 + draw.below(7));
    for (uint32_t& id : turn) id = pick();
    while (out.size() < n) {
        if (mode == 0) {
            out.insert(out.end(), std::min<std::size_t>(n - out.size(), draw.size(n)), pick());
        } else if (mode == 1) {
            out.push_back(turn[out.size() % turn.size()]);
        } else {
            out.push_back(pick());
        }
    }
    return out;
}

// n proxy ids: ascending, descending, two in turn, or at random.
std::vector<uint64_t> proxies(Draw& draw, uint32_t n) {
    std::vector<uint64_t> out(n);
    const uint32_t mode = draw.below(4);
    const uint64_t a = draw.any(), b = uint64_t{draw.any()} << (8 * draw.below(5));
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = mode == 0 ? a + i : mode == 1 ? a + n - i : mode == 2 ? (i % 2 ? a : b) : uint64_t{draw.any()} << draw.below(33);
    }
    return out;
}

// One pack's bytes: mostly empty, now and then with many version items or
// proxies, and for another app than its key.
void pack(Draw& draw, Bytes& out, uint32_t key, const std::vector<uint32_t>& keys, std::size_t room) {
    out.u32(draw.chance(85) || keys.empty() ? key : keys[draw.below(static_cast<uint32_t>(keys.size()))]);
    out.u16(0), out.u16(0), out.u16(0);  // str1..str3
    out.u32(0), out.u16(0), out.u16(0), out.u16(0);
    // Version items and proxies take at most half of the room each.
    const uint32_t versions = draw.chance(10) ? draw.size(static_cast<uint32_t>(room / 40 + 1)) : 0;
    out.u32(versions);
    for (uint32_t i = 0; i < versions; ++i) {
        out.u32(0), out.u16(0), out.u16(0), out.u16(0), out.u32(0), out.u32(0), out.u16(0);
    }
    out.u32(0);  // num2
    out.u8(0);   // byte1
    const std::vector<uint64_t> ids = proxies(draw, draw.chance(20) ? draw.size(static_cast<uint32_t>(room / 16 + 1)) : draw.below(3));
    out.u32(static_cast<uint32_t>(ids.size()));
    for (const uint64_t id : ids) out.u64(id);
    out.u16(static_cast<uint16_t>(2 + draw.below(2)));
    out.u16(0);  // str4
}

std::string packsBytes(Draw& draw, std::vector<uint32_t>& packKeys) {
    const uint32_t n = draw.size(20000);
    packKeys = keys(draw, n, draw.size(4096));
    Bytes out;
    out.u32(n);
    uint32_t written = 0;
    for (const uint32_t key : packKeys) {
        if (out.size() + 64 > kListBytes) break;
        out.u32(key);
        pack(draw, out, key, packKeys, kListBytes - out.size());
        ++written;
    }
    std::string bytes = out.take();
    std::memcpy(bytes.data(), &written, sizeof written);
    return bytes.size() > kListBytes ? std::string() : bytes;
}

std::string sidAppsBytes(Draw& draw, const std::vector<uint32_t>& packKeys) {
    Bytes out;
    const uint32_t sids = draw.chance(70) ? 1 + draw.below(4) : draw.size(60000);
    const std::vector<uint32_t> sidKeys = keys(draw, sids, draw.size(2048));
    const uint32_t perSid = static_cast<uint32_t>(std::max<std::size_t>(1, (kListBytes - 64) / 4 / sids / 2));
    out.u32(sids);
    for (const uint32_t sid : sidKeys) {
        const std::vector<uint32_t> ids = listings(draw, draw.size(perSid) - 1, packKeys);
        out.u32(sid);
        out.u32(static_cast<uint32_t>(ids.size()));
        for (const uint32_t id : ids) out.u32(id);
    }
    const uint32_t attrs = draw.chance(70) ? 0 : std::min<uint32_t>(draw.size(300000), static_cast<uint32_t>((kListBytes - out.size()) / 10 - 1));
    out.u32(attrs);
    for (const uint32_t sid : keys(draw, attrs, draw.size(2048))) out.u32(sid), out.u32(0), out.u16(0);
    return out.take();
}

// A list cut short late, now and then: its count one too high, or its
// last bytes gone.
void maybeCut(Draw& draw, std::string& list) {
    if (list.size() < 8 || !draw.chance(20)) return;
    if (draw.chance(50)) {
        list.resize(list.size() - 1 - draw.below(8));
    } else {
        uint32_t count = 0;
        std::memcpy(&count, list.data(), sizeof count);
        ++count;
        std::memcpy(list.data(), &count, sizeof count);
    }
}

// The field as the packet carries it: zipped (always when it is large).
template <class R, class Bytes_, class Flag, class Length>
void setList(Draw& draw, R& record, Bytes_ R::*bytes, Flag R::*zipped, Length R::*length, std::string plain) {
    if (plain.empty()) return;
    maybeCut(draw, plain);
    if (plain.size() > 60000 || draw.chance(70)) {
        record.*zipped = 1;
        record.*length = static_cast<uint32_t>(plain.size());
        record.*bytes = sapphost::deflateBytes(plain);
    } else {
        record.*bytes = std::move(plain);
    }
}

std::vector<uint32_t> appIds(Draw& draw, const std::vector<uint32_t>& packKeys, std::size_t room) {
    return listings(draw, draw.size(static_cast<uint32_t>(std::max<std::size_t>(1, room / 4))) - 1, packKeys);
}

std::string addAppReq(Draw& draw) {
    ps::PAddAppReq req;
    req.sid = 1234;
    std::vector<uint32_t> packKeys;
    if (draw.chance(85)) setList(draw, req, &ps::PAddAppReq::appPacks, &ps::PAddAppReq::appPacksZipped,
                                 &ps::PAddAppReq::appPacksLen, packsBytes(draw, packKeys));
    if (draw.chance(85)) setList(draw, req, &ps::PAddAppReq::sidApps, &ps::PAddAppReq::sidAppsZipped,
                                 &ps::PAddAppReq::sidAppsLen, sidAppsBytes(draw, packKeys));
    const std::size_t used = req.appPacks.size() + req.sidApps.size() + 64;
    if (used < kBodyBytes && draw.chance(60)) req.appIds = appIds(draw, packKeys, kBodyBytes - used);
    return sapphost::packToString(req);
}

std::string delAppReq(Draw& draw) {
    ps::PDelAppReq req;
    req.sid = 1234;
    const std::vector<uint32_t> ids = keys(draw, draw.size(4096), draw.size(4096));
    setList(draw, req, &ps::PDelAppReq::sidApps, &ps::PDelAppReq::sidAppsZipped, &ps::PDelAppReq::sidAppsLen,
            sidAppsBytes(draw, ids));
    const std::size_t used = req.sidApps.size() + 64;
    if (used < kBodyBytes) req.appIds = appIds(draw, ids, kBodyBytes - used);
    return sapphost::packToString(req);
}

// An SDK V3 add or proxy update of app 1 to 8 with many proxies.
std::string appMsgV3(Draw& draw) {
    ps::PAppMsgToClient msg;
    msg.appId = 1 + draw.below(8);
    msg.srcId = draw.below(4);
    msg.seqNum = draw.any();
    const uint32_t room = (kBodyBytes - 128) / 8;
    if (draw.chance(50)) {
        ps::AppInfoPack3 info;
        info.appId = draw.chance(80) ? msg.appId : 1 + draw.below(8);
        info.proxyIds = proxies(draw, draw.size(room));
        msg.appMsgType = ps::kAppMsgAddApp;
        msg.data = sapphost::packToString(info);
    } else {
        ps::PAppSdkInfo info;
        info.proxyIds = proxies(draw, draw.size(room));
        msg.appMsgType = ps::kAppMsgUpdateProxies;
        msg.data = sapphost::packToString(info);
    }
    return sapphost::packToString(msg);
}

// An SDK V2 add of app 1 to 8 with many version items.
std::string userMsg3(Draw& draw) {
    ps::PUserMsg3 msg;
    msg.msgType = 1;
    msg.proxyId = draw.any();
    ps::AppHeaderV2 header{draw.any(), ps::kAppMsgAddApp, 1 + draw.below(8)};
    ps::AppInfoPack info;
    info.appId = header.appId;
    info.proxyId = msg.proxyId;
    info.versions.resize(draw.size((kBodyBytes - 128) / 16));
    msg.data = sapphost::packToString(header) + sapphost::packToString(info);
    return sapphost::packToString(msg);
}

}  // namespace

std::string costlyNotice(uint32_t seed) {
    Draw draw(seed);
    const uint32_t kind = draw.below(20);
    uint32_t uri = ps::URI_ADD_APP_REQ;
    std::string body;
    if (kind < 14) {
        body = addAppReq(draw);
    } else if (kind < 16) {
        uri = ps::URI_DEL_APP_REQ;
        body = delAppReq(draw);
    } else if (kind < 18) {
        uri = ps::URI_APP_MSG_TO_CLIENT;
        body = appMsgV3(draw);
    } else {
        uri = ps::URI_USER_MSG3;
        body = userMsg3(draw);
    }
    ProgramBytes program;
    program.open();
    program.packet(0, uri, 200, body);
    return program.program();
}

std::size_t mutateTowardsCost(uint8_t* data, std::size_t size, std::size_t maxSize, uint32_t seed) {
    const std::string notice = costlyNotice(seed);
    if (notice.size() > maxSize) return size;
    // Keep a prefix of the program, so that what it set up meets the notice.
    Draw draw(seed ^ 0x9E3779B9u);
    const std::size_t keep = std::min<std::size_t>({size, maxSize - notice.size(), draw.chance(50) ? 0 : draw.below(static_cast<uint32_t>(size + 1))});
    std::memcpy(data + keep, notice.data(), notice.size());
    return keep + notice.size();
}

}  // namespace sappfuzz
