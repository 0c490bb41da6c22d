// A host that keeps what the module hands it. It plays one session on the
// stand-in session and copies, within the module's call, every client event
// the module posts and every record it sends: three heap copies of each
// (copy construction, default construction and copy assignment, move
// construction). It reads the copies after the module's calls have
// returned, again after the session has left and the module was released,
// and again after the module file was unloaded, each time against the
// record as it read during the call and against the packets and requests it
// sent, and then destroys them.
//
// Built against the installed package alone: the records' walks (marshal,
// unmarshal) that the copies' virtual tables name are compiled here, from
// the package's headers. Exit status 0 when every check held, 1 otherwise;
// each failed check is named on standard error.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

#include "host/SessionEvent.h"
#include "marshal/BlockBuffer.h"
#include "marshal/Pack.h"
#include "marshal/Unpack.h"
#include "module/ISessionMod.h"
#include "protocol/AppPayloads.h"
#include "protocol/ClientEvents.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"

namespace {

namespace ps = protocol::session;
namespace pa = vessaplugin::appMgr;

using GetModuleFn = ISessionMod* (*)(ISession*);
using ReleaseModuleFn = void (*)(uint32_t);

constexpr uint32_t kSid = 1234;
constexpr uint64_t kUid = 4242;
constexpr uint32_t kPid = 77;
constexpr uint16_t kAppPlatformMessage = 1;  // PUserMsg3::msgType of app-platform traffic

// --- checks --------------------------------------------------------------------

int g_failures = 0;

void check(bool ok, const std::string& what) {
    if (ok) return;
    ++g_failures;
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
}

// --- records as text -----------------------------------------------------------

template <class T> struct IsMap : std::false_type {};
template <class V> struct IsMap<std::map<uint32_t, V>> : std::true_type {};

// A record as text, by its field list: each field's name and value, nested
// records in braces, containers element by element, bytes in hex and wide
// strings as code units. Two records of one type give the same text exactly
// when all their fields are equal.
class Text {
public:
    template <class R>
    static std::string of(const R& record) {
        Text text;
        R::fields(record, text);
        return text.m_out;
    }

    template <class E, class T>
    void operator()(E, const char* name, const T& value) {
        (*this)(name, value);
    }
    template <class T>
    void operator()(const char* name, const T& value) {
        m_out += name;
        m_out += '=';
        write(value);
        m_out += ';';
    }

private:
    template <class T>
    void write(const T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            m_out += value ? "true" : "false";
        } else if constexpr (std::is_integral_v<T>) {
            m_out += std::to_string(static_cast<unsigned long long>(value));
        } else if constexpr (std::is_same_v<T, std::string>) {
            static const char digits[] = "0123456789abcdef";
            for (const char c : value) {
                m_out += digits[static_cast<unsigned char>(c) >> 4];
                m_out += digits[static_cast<unsigned char>(c) & 15];
            }
        } else if constexpr (std::is_same_v<T, std::wstring>) {
            for (const wchar_t c : value) m_out += 'u' + std::to_string(static_cast<unsigned long>(c));
        } else if constexpr (IsMap<T>::value) {
            m_out += '{';
            for (const auto& [key, element] : value) {
                m_out += std::to_string(key) + ':';
                write(element);
                m_out += ',';
            }
            m_out += '}';
        } else if constexpr (requires { value.begin(); }) {
            m_out += '[';
            for (const auto& element : value) {
                write(element);
                m_out += ',';
            }
            m_out += ']';
        } else {
            m_out += '{';
            T::fields(value, *this);
            m_out += '}';
        }
    }

    std::string m_out;
};

// A client event as text: its head, then its own fields.
template <class R>
std::string textOf(const R& event) {
    std::string text = "type=" + std::to_string(event.type) + ";extra=" + event.extra + ";";
    if constexpr (!std::is_same_v<R, AppEvent>) text += Text::of(event);
    return text;
}

// A record's bytes by its own marshal, a virtual call: for the module's
// record the module's walk, for a copy made here this host's.
std::string bytesOf(const pakt::Marshallable& record) {
    pakt::BlockBuffer buffer;
    pakt::Pack pack(buffer);
    record.marshal(pack);
    return pack.str();
}

// An SDK V2 payload: the header, then the body's fields.
template <class Body>
std::string payloadV2(uint32_t seqNum, uint16_t appMsgType, uint32_t appId, const Body& body) {
    pakt::BlockBuffer buffer;
    pakt::Pack pack(buffer);
    ps::AppHeaderV2 header;
    header.seqNum = seqNum;
    header.appMsgType = static_cast<uint8_t>(appMsgType);
    header.appId = appId;
    pakt::packFields(header, pack);
    pakt::packFields(body, pack);
    return pack.str();
}

// --- what the host keeps -----------------------------------------------------------

// AppEvent has no virtual destructor: a kept event is deleted as the record
// its code names.
struct DeleteEvent {
    void operator()(const AppEvent* event) const {
        visitClientEvent(*event, [](const auto& record) { delete &record; });
    }
};
using EventCopy = std::unique_ptr<const AppEvent, DeleteEvent>;
using RecordCopy = std::unique_ptr<const pakt::Marshallable>;

// One record the module handed over, as it read during the module's call
// (`text`; for a sent record also its bytes, by the module's walk), and the
// three copies made there.
template <class Copy>
struct Kept {
    uint32_t code = 0;  // the event code, or the request's URI
    std::string text;
    std::string bytes;
    Copy copied;    // copy construction
    Copy assigned;  // default construction, then copy assignment
    Copy moved;     // move construction from another copy
};

// What the host keeps, in the order the module handed it over. It is the
// host's own: it outlives the session and the module.
struct Keeper {
    std::vector<Kept<EventCopy>> events;
    std::vector<Kept<RecordCopy>> requests;
};

// The stand-in session, with a host's postAppEvent and sendRequest in front
// of it: each keeps its copies, then the stand-in records the call as ever.
class KeepingSession : public standin::Session {
public:
    KeepingSession(uint32_t sid, Keeper& keeper) : standin::Session(sid), m_keeper(keeper) {}

    void postAppEvent(const AppEvent& event) override {
        visitClientEvent(event, [&](const auto& record) {
            using R = std::remove_cvref_t<decltype(record)>;
            auto assigned = std::make_unique<R>();
            *assigned = record;
            R staged(record);
            Kept<EventCopy> kept{event.type, textOf(record), {}, EventCopy(new R(record)),
                                 EventCopy(assigned.release()), EventCopy(new R(std::move(staged)))};
            check(textOf(static_cast<const R&>(*kept.moved)) == kept.text,
                  "event " + std::to_string(event.type) + ": the copy made during the call differs");
            m_keeper.events.push_back(std::move(kept));
        });
        standin::Session::postAppEvent(event);
    }

    void sendRequest(const SessionRequest& request) override {
        switch (request.uri) {
        case ps::URI_GET_APPS_REQ: keep<ps::PGetAppsReq>(request); break;
        case ps::URI_GET_ANNOUNCE_APPS: keep<ps::PGetAnnounceApps>(request); break;
        case ps::URI_USER_MSG3: keep<ps::PUserMsg3>(request); break;
        case ps::URI_APP_MSG_TO_SDK: keep<ps::PAppMsgToSDK>(request); break;
        default: check(false, "a request of URI " + std::to_string(request.uri) + ", which this host does not know");
        }
        standin::Session::sendRequest(request);
    }

private:
    template <class R>
    void keep(const SessionRequest& request) {
        const R& record = static_cast<const R&>(*request.body);
        auto assigned = std::make_unique<R>();
        *assigned = record;
        R staged(record);
        m_keeper.requests.push_back({request.uri, Text::of(record), bytesOf(record), std::make_unique<R>(record),
                                     std::move(assigned), std::make_unique<R>(std::move(staged))});
    }

    Keeper& m_keeper;
};

// --- what the host sends, and what it expects back ---------------------------------

// The packets of the session, and the records the module must make of them.
struct Traffic {
    pa::PluginAppPackMap packs;       // listed by the PAddAppReq
    pa::PluginSid2AppsMap addedSids;  // the PAddAppReq's sid listing
    pa::PluginSid2AppsMap deletedSids;
    ps::PAddAppReq add;
    ps::PDelAppReq del;
    ps::AppInfoPack info7;  // app 7, added by the app platform in SDK V2
    std::string announceBody;

    Traffic() {
        pa::PluginAppPack& five = packs.apps[5];
        five.appId = 5;
        five.str1 = "five";
        five.versions.emplace_back();
        five.versions.back().num1 = 1;
        five.versions.back().str4 = "1.0";
        five.proxyIds = {50};
        five.sdkVersion = 2;
        pa::PluginAppPack& six = packs.apps[6];
        six.appId = 6;
        six.proxyIds = {60, 61};
        six.sdkVersion = 3;
        six.str4 = std::string(40, 's');  // beyond a short string's own buffer
        addedSids.sidApps[kSid].appIds = {5, 6};
        addedSids.sidAttrs[kSid].num = 9;
        addedSids.sidAttrs[kSid].str = "attr";
        deletedSids.sidApps[kSid].appIds = {5};

        add.sid = kSid;
        add.appPacks = bytesOf(packs);
        add.sidApps = bytesOf(addedSids);
        add.appIds = {5, 6};
        add.context = "ctx-add";
        del.sid = kSid;
        del.sidApps = bytesOf(deletedSids);
        del.appIds = {5};
        del.context = "ctx-del";

        info7.appId = 7;
        info7.proxyId = 70;
        info7.str1 = "s\xe2\x82\xacven";  // UTF-8, which the client gets as wide characters
        info7.str2 = "v2";
        info7.num = 4;
        info7.versions.emplace_back();
        info7.versions.back().num1 = 1;
        info7.versions.back().num2 = 2;
        info7.versions.back().num3 = 3;
        info7.versions.back().str1 = std::string("\xff\x00", 2);
        info7.versions.back().str2 = "c";
        info7.flag = true;
        announceBody = std::string("\x00\x01\x02announce\xff", 12);
    }

    // The client form of app 7, as EVENT_APP_ADDED must carry it.
    static ClientAppInfo clientInfo7() {
        ClientAppInfo info;
        info.appId = 7;
        info.str1 = L"s\u20acven";
        info.str2 = L"v2";
        info.num = 4;
        info.versions.push_back({1, 2, 3, std::string("\xff\x00", 2), L"c"});
        info.flag = true;
        return info;
    }
};

// A V2 app-platform message from proxy 70.
standin::Packet userMsg3(const std::string& data) {
    ps::PUserMsg3 message;
    message.proxyId = 70;
    message.msgType = kAppPlatformMessage;
    message.data = data;
    return standin::Packet(ps::URI_USER_MSG3, 200, bytesOf(message));
}

// Plays the session; the module makes every client event once, in this
// order: 1032 1031 1035 1035 1033 1034 2000.
void play(ISessionMod* module, standin::Session& session, const Traffic& traffic) {
    ps::SessionEvent user;
    user.type = ps::EVENT_SESS_USER_INFO;
    user.sid = kSid;
    user.uid = kUid;
    session.deliverEvent(user);
    ps::SessionEvent pid;
    pid.type = ps::EVENT_SESS_PID;
    pid.pid = kPid;
    session.deliverEvent(pid);  // sends PGetAnnounceApps
    ps::SessionEvent query;
    query.type = ps::EVENT_SESS_QUERY_APPS;
    session.deliverEvent(query);  // sends PGetAppsReq

    standin::Packet add(ps::URI_ADD_APP_REQ, 200, bytesOf(traffic.add));
    module->onPacket(kSid, &add);  // EVENT_APPS_ADDED: apps 5 (SDK V2) and 6 (SDK V3)
    standin::Packet added = userMsg3(payloadV2(1, ps::kAppMsgAddApp, 7, traffic.info7));
    module->onPacket(kSid, &added);  // EVENT_APP_ADDED: app 7
    ps::AppDataV2 dataV2;
    dataV2.appData = "v2-data";
    standin::Packet downV2 = userMsg3(payloadV2(2, ps::kAppMsgAppData, 7, dataV2));
    module->onPacket(kSid, &downV2);  // EVENT_APP_DATA: app 7
    ps::PAppMsgToClient toClient;
    toClient.appId = 6;
    toClient.srcId = 60;
    toClient.seqNum = 1;
    toClient.appMsgType = ps::kAppMsgAppData;
    toClient.data = "v3-data";
    standin::Packet downV3(ps::URI_APP_MSG_TO_CLIENT, 200, bytesOf(toClient));
    module->onPacket(kSid, &downV3);  // EVENT_APP_DATA: app 6

    AppDataRequest up;
    up.type = REQ_APP_DATA;
    up.appId = 5;
    up.data = "up-v2";
    module->onRequest(kSid, &up);  // sends PUserMsg3 to proxy 50
    up.appId = 6;
    up.data = "up-v3";
    module->onRequest(kSid, &up);  // sends PAppMsgToSDK to proxies 60 and 61

    ps::AppInfoPack gone;
    gone.appId = 7;
    gone.str2 = "bye";
    gone.flag = true;
    standin::Packet removed = userMsg3(payloadV2(3, ps::kAppMsgDeleteApp, 7, gone));
    module->onPacket(kSid, &removed);  // EVENT_APP_REMOVED: app 7
    standin::Packet del(ps::URI_DEL_APP_REQ, 200, bytesOf(traffic.del));
    module->onPacket(kSid, &del);  // EVENT_APPS_DELETED: app 5
    standin::Packet announce(ps::URI_ADD_ANNOUNCE_APPS, 200, traffic.announceBody);
    module->onPacket(kSid, &announce);  // EVENT_ANNOUNCE_APPS
}

// --- reading the copies ------------------------------------------------------------

// The copies of every kept record still read as the record did during the
// module's call, and a copy's walk writes the bytes the module's did.
void checkCopies(const Keeper& keeper, const std::string& when) {
    for (const Kept<EventCopy>& kept : keeper.events) {
        const std::string what = when + ", event " + std::to_string(kept.code) + ": ";
        for (const EventCopy* copy : {&kept.copied, &kept.assigned, &kept.moved}) {
            check((*copy)->type == kept.code, what + "a copy has another code");
            visitClientEvent(**copy, [&](const auto& record) {
                check(textOf(record) == kept.text, what + "a copy differs from the record posted");
            });
        }
    }
    for (const Kept<RecordCopy>& kept : keeper.requests) {
        const std::string what = when + ", record of URI " + std::to_string(kept.code) + ": ";
        for (const RecordCopy* copy : {&kept.copied, &kept.assigned, &kept.moved}) {
            check(bytesOf(**copy) == kept.bytes, what + "a copy's bytes differ from those the module sent");
        }
    }
}

template <class R>
const R* keptEvent(const Keeper& keeper, std::size_t index, uint32_t code) {
    if (index >= keeper.events.size() || keeper.events[index].code != code) return nullptr;
    return static_cast<const R*>(keeper.events[index].copied.get());
}

template <class R>
const R* keptRequest(const Keeper& keeper, std::size_t index, uint32_t uri) {
    if (index >= keeper.requests.size() || keeper.requests[index].code != uri) return nullptr;
    return static_cast<const R*>(keeper.requests[index].copied.get());
}

// The kept records hold what the session's packets and requests said. The
// plug-in records inside the app-list events are written again by this
// host's walks, byte for byte the lists the notices carried.
void checkContents(const Keeper& keeper, const Traffic& traffic, const std::string& when) {
    const std::string what = when + ": ";
    check(keeper.events.size() == 7, what + std::to_string(keeper.events.size()) + " events kept, not 7");
    check(keeper.requests.size() == 4, what + std::to_string(keeper.requests.size()) + " records kept, not 4");

    if (const auto* e = keptEvent<AppsAddedEvent>(keeper, 0, EVENT_APPS_ADDED)) {
        check(e->sid == kSid && e->appIds == std::vector<uint32_t>{5, 6} && e->context == "ctx-add",
              what + "EVENT_APPS_ADDED: sid, app ids or context");
        check(bytesOf(e->appPacks) == traffic.add.appPacks && Text::of(e->appPacks) == Text::of(traffic.packs),
              what + "EVENT_APPS_ADDED: the app packs are not those of the notice");
        check(bytesOf(e->sidApps) == traffic.add.sidApps && Text::of(e->sidApps) == Text::of(traffic.addedSids),
              what + "EVENT_APPS_ADDED: the sid listing is not that of the notice");
    } else {
        check(false, what + "event 1 is not EVENT_APPS_ADDED");
    }
    if (const auto* e = keptEvent<AppAddedEvent>(keeper, 1, EVENT_APP_ADDED)) {
        check(Text::of(e->info) == Text::of(Traffic::clientInfo7()), what + "EVENT_APP_ADDED: not app 7 as sent");
    } else {
        check(false, what + "event 2 is not EVENT_APP_ADDED");
    }
    const auto* v2 = keptEvent<AppDataEvent>(keeper, 2, EVENT_APP_DATA);
    check(v2 && v2->appId == 7 && v2->data == "v2-data", what + "event 3 is not app 7's SDK V2 data");
    const auto* v3 = keptEvent<AppDataEvent>(keeper, 3, EVENT_APP_DATA);
    check(v3 && v3->appId == 6 && v3->data == "v3-data", what + "event 4 is not app 6's SDK V3 data");
    const auto* removed = keptEvent<AppRemovedEvent>(keeper, 4, EVENT_APP_REMOVED);
    check(removed && removed->appId == 7 && removed->flag && removed->str2 == L"bye",
          what + "event 5 is not app 7's EVENT_APP_REMOVED");
    if (const auto* e = keptEvent<AppsDeletedEvent>(keeper, 5, EVENT_APPS_DELETED)) {
        check(e->sid == kSid && e->appIds == std::vector<uint32_t>{5} && e->context == "ctx-del",
              what + "EVENT_APPS_DELETED: sid, app ids or context");
        check(bytesOf(e->sidApps) == traffic.del.sidApps, what + "EVENT_APPS_DELETED: the sid listing differs");
    } else {
        check(false, what + "event 6 is not EVENT_APPS_DELETED");
    }
    const auto* announce = keptEvent<AnnounceAppsEvent>(keeper, 6, EVENT_ANNOUNCE_APPS);
    check(announce && announce->body == traffic.announceBody, what + "event 7 is not the announce-app body sent");

    const auto* announceQuery = keptRequest<ps::PGetAnnounceApps>(keeper, 0, ps::URI_GET_ANNOUNCE_APPS);
    check(announceQuery && announceQuery->sid == kSid && announceQuery->pid == kPid && announceQuery->uid == kUid,
          what + "record 1 is not the PGetAnnounceApps of this session");
    const auto* appsQuery = keptRequest<ps::PGetAppsReq>(keeper, 1, ps::URI_GET_APPS_REQ);
    check(appsQuery && appsQuery->sid == kSid && appsQuery->uid == kUid,
          what + "record 2 is not the PGetAppsReq of this session");
    if (const auto* msg = keptRequest<ps::PUserMsg3>(keeper, 2, ps::URI_USER_MSG3)) {
        ps::AppUplinkV2 payload;
        pakt::Unpack up(msg->data.data(), msg->data.size());
        pakt::unpackFields(payload, up);
        check(msg->proxyId == 50 && payload.header.appId == 5 && payload.appData == "up-v2" && payload.sid == kSid,
              what + "record 3 is not app 5's SDK V2 message to proxy 50");
    } else {
        check(false, what + "record 3 is not a PUserMsg3");
    }
    const auto* toSdk = keptRequest<ps::PAppMsgToSDK>(keeper, 3, ps::URI_APP_MSG_TO_SDK);
    check(toSdk && toSdk->appId == 6 && toSdk->proxyIds == std::vector<uint64_t>{60, 61} && toSdk->data == "up-v3",
          what + "record 4 is not app 6's SDK V3 message to proxies 60 and 61");
}

// --- the module file ------------------------------------------------------------------

struct Module {
#if defined(_WIN32)
    HMODULE library = nullptr;
#else
    void* library = nullptr;
#endif
    GetModuleFn getModule = nullptr;
    ReleaseModuleFn releaseModule = nullptr;
};

// Loads the module file and finds its two entry points; false, with the
// reason printed, when the file or a name is missing.
bool load(Module& module, const char* path) {
#if defined(_WIN32)
    std::wstring widePath(MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath.data(), static_cast<int>(widePath.size()));
    module.library = LoadLibraryW(widePath.c_str());
    if (!module.library) {
        std::fprintf(stderr, "cannot load %s: error %lu\n", path, GetLastError());
        return false;
    }
    module.getModule =
        reinterpret_cast<GetModuleFn>(reinterpret_cast<void*>(GetProcAddress(module.library, "getModule")));
    module.releaseModule =
        reinterpret_cast<ReleaseModuleFn>(reinterpret_cast<void*>(GetProcAddress(module.library, "releaseModule")));
#else
    module.library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module.library) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        return false;
    }
    module.getModule = reinterpret_cast<GetModuleFn>(dlsym(module.library, "getModule"));
    module.releaseModule = reinterpret_cast<ReleaseModuleFn>(dlsym(module.library, "releaseModule"));
#endif
    if (!module.getModule || !module.releaseModule) std::fprintf(stderr, "%s lacks getModule or releaseModule\n", path);
    return module.getModule && module.releaseModule;
}

// Unloads the module file; true when it is gone from the process, so that
// nothing kept can still point into it unnoticed.
bool unload(Module& module, const char* path) {
#if defined(_WIN32)
    FreeLibrary(module.library);
    std::wstring widePath(MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath.data(), static_cast<int>(widePath.size()));
    return GetModuleHandleW(widePath.c_str()) == nullptr;
#else
    dlclose(module.library);
    void* again = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (again) dlclose(again);
    return again == nullptr;
#endif
}

// The codes of the kept events, or the URIs of the kept records.
template <class Copy>
std::string codesOf(const std::vector<Kept<Copy>>& kept) {
    std::string codes;
    for (const Kept<Copy>& record : kept) codes += " " + std::to_string(record.code);
    return codes;
}

std::size_t copiesOf(const Keeper& keeper) { return 3 * (keeper.events.size() + keeper.requests.size()); }

// Reads every copy, and says whether all of them held.
void readCopies(const Keeper& keeper, const Traffic& traffic, const std::string& when) {
    const int failures = g_failures;
    checkCopies(keeper, when);
    checkContents(keeper, traffic, when);
    std::printf("%s: %s copies %s\n", when.c_str(), std::to_string(copiesOf(keeper)).c_str(),
                g_failures == failures ? "hold what the module handed over" : "do not (see above)");
}

int run() {
    Module module;
    if (!load(module, SAPP_MODULE_FILE)) return 1;
    std::printf("module: %s\n", SAPP_MODULE_FILE);

    const Traffic traffic;
    Keeper keeper;
    {
        KeepingSession session(kSid, keeper);
        ISessionMod* mod = module.getModule(&session);
        if (!mod) {
            std::fprintf(stderr, "FAILED: getModule returned null\n");
            return 1;
        }
        play(mod, session, traffic);
        std::printf("client events kept (codes):%s\n", codesOf(keeper.events).c_str());
        std::printf("sent records kept (URIs):%s\n", codesOf(keeper.requests).c_str());
        readCopies(keeper, traffic, "after the calls");

        mod->onLeave(kSid);
        module.releaseModule(kSid);
    }
    // The session object is gone too.
    readCopies(keeper, traffic, "after onLeave and releaseModule");

    check(unload(module, SAPP_MODULE_FILE), "the module file is still loaded after it was unloaded");
    readCopies(keeper, traffic, "after unloading the module");

    const std::size_t copies = copiesOf(keeper);
    keeper.events.clear();
    keeper.requests.clear();
    std::printf("%s copies destroyed\n", std::to_string(copies).c_str());
    return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main() {
    try {
        return run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "FAILED: an exception: %s\n", e.what());
        return 1;
    }
}
