// The recording session: order of effects, marshalling at send time, deep
// copies of posted events, watchers.

#include "standin/pktcore/StandinSession.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "protocol/ClientEvents.h"
#include "protocol/PluginRecords.h"

namespace {

class Watcher : public protocol::session::ISessionWatcher {
public:
    void onSessionEvent(const protocol::session::SessionEvent& event) override {
        received.push_back(event.type);
        if (action) action();
    }
    std::vector<int32_t> received;
    std::function<void()> action;
};

TEST(StandinSessionTest, RecordsEveryEffectInCallOrderWithBodiesMarshalledAtSendTime) {
    standin::Session session(77);
    Watcher first;
    Watcher second;
    auto body = std::make_unique<vessaplugin::appMgr::PluginSidAttr>();
    body->num = 0x01020304;
    body->str = "hi";

    session.addWatcher(&first);
    session.addWatcher(&first);  // recorded, but registered once
    session.addWatcher(&second);
    session.sendRequest(SessionRequest{100, "x", 0xABCD, body.get()});
    body->str = "changed";
    body.reset();
    session.postAppEvent(AppDataEvent());
    session.sendRequest(SessionRequest{101, "", 5, nullptr});
    protocol::session::SessionEvent event;
    event.type = protocol::session::EVENT_SESS_QUERY_APPS;
    session.deliverEvent(event);
    first.action = [&] { session.removeWatcher(&second); };
    event.type = protocol::session::EVENT_SESS_LEAVE;
    session.deliverEvent(event);
    session.removeWatcher(&second);  // no longer registered: recorded, no effect

    // Variant indexes: 0 request, 1 event, 3 watcher call (task calls: see the clock's tests).
    std::vector<std::size_t> recorded;
    for (const auto& e : session.entries()) recorded.push_back(e.index());
    EXPECT_EQ(recorded, (std::vector<std::size_t>{3, 3, 3, 0, 1, 0, 3, 3}));
    EXPECT_EQ(first.received, (std::vector<int32_t>{8007, 8003}));
    EXPECT_EQ(second.received, (std::vector<int32_t>{8007})) << "removed during the delivery";
    const auto requests = session.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(std::tie(requests[0].type, requests[0].extra, requests[0].uri), std::make_tuple(100, "x", 0xABCDu));
    EXPECT_EQ(requests[0].body, std::string("\x04\x03\x02\x01\x02\x00" "hi", 8));
    EXPECT_EQ(requests[1].body, "") << "no body, no bytes";
}

TEST(StandinSessionTest, PostedEventsAreDeepCopiesOfTheirConcreteRecord) {
    standin::Session session(1);
    std::tuple<AppAddedEvent, AppsAddedEvent, AppRemovedEvent, AppsDeletedEvent, AppDataEvent, AnnounceAppsEvent,
               AppEvent>
        originals;
    auto& [added, many, removed, deleted, data, announce, unknown] = originals;
    added.info.versions.resize(2);
    added.info.versions[1].str2 = L"v";
    many.appPacks.apps[5].proxyIds = {11, 12};
    removed.str2 = L"gone";
    deleted.sidApps.sidAttrs[4].str = "attr";
    data.data = std::string("\0\x01", 2);
    announce.body = "announce";
    unknown.type = 4242;
    unknown.extra = "head";
    std::apply([&](const auto&... event) { (session.postAppEvent(event), ...); }, originals);
    originals = {};  // the copies must not follow their originals

    const auto events = session.events();
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[0].as<AppAddedEvent>().info.versions.at(1).str2, L"v");
    EXPECT_EQ(events[1].as<AppsAddedEvent>().appPacks.apps.at(5).proxyIds, (std::vector<uint64_t>{11, 12}));
    EXPECT_EQ(events[2].as<AppRemovedEvent>().str2, L"gone");
    EXPECT_EQ(events[3].as<AppsDeletedEvent>().sidApps.sidAttrs.at(4).str, "attr");
    EXPECT_EQ(events[4].as<AppDataEvent>().data, std::string("\0\x01", 2));
    EXPECT_EQ(events[5].as<AnnounceAppsEvent>().body, "announce");
    EXPECT_EQ(std::tie(events[6].type, events[6].record->extra), std::make_tuple(4242u, "head"));
}

}  // namespace
