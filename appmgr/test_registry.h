// What the app manager's tests share: a record's bytes, a stand-in session
// with its link, and the uplink the registry sends for an app.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "appmgr/SAppMgr.h"
#include "host/Pktcore.h"
#include "marshal/BlockBuffer.h"
#include "marshal/Fields.h"
#include "marshal/Pack.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "support/SessionLink.h"

namespace appmgr_test {

using namespace protocol::session;

template <class R>
std::string bytesOf(const R& record) {
    pakt::BlockBuffer buffer;
    pakt::Pack pack(buffer);
    pakt::packFields(record, pack);
    return std::string(pack.data(), pack.size());
}

// The link a context gives its app manager, over a stand-in session whose
// user has the session's sid.
struct StandinLink {
    explicit StandinLink(standin::Session& session) : link(&session) {
        user.setSid(session.getSid());
        link.setUserInfo(&user);
    }
    ProtoUInfo user;
    SessionLink link;
};

// Appends " id". Appended in two steps: GCC 12 at -O3 misreads
// `" " + std::to_string(id)` as an overlapping copy (-Werror=restrict).
inline void appendId(std::string& out, uint64_t id) {
    out += ' ';
    out += std::to_string(id);
}

// What the uplink sends for `appId`, as "V2 p1 p2" (one PUserMsg3 per
// proxy, in order), "V3 p1 p2" (one PAppMsgToSDK naming them) or "none"
// (no proxy entry); a V2 app without proxies sends nothing: "V2".
inline std::string uplink(SAppMgr& mgr, standin::Session& session, uint32_t appId) {
    const std::size_t before = session.requests().size();
    if (!mgr.sendAppMsg(appId, "x")) return "none";
    const std::vector<standin::SentRequest> sent = session.requests();
    std::string out = before < sent.size() && sent[before].uri == URI_APP_MSG_TO_SDK ? "V3" : "V2";
    for (std::size_t i = before; i < sent.size(); ++i) {
        pakt::Unpack up(sent[i].body.data(), sent[i].body.size());
        if (sent[i].uri == URI_USER_MSG3) {
            PUserMsg3 msg;
            msg.unmarshal(up);
            appendId(out, msg.proxyId);
        } else {
            PAppMsgToSDK msg;
            msg.unmarshal(up);
            for (const uint64_t proxy : msg.proxyIds) appendId(out, proxy);
        }
    }
    return out;
}

}  // namespace appmgr_test
