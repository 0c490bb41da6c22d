// The recording session: order of effects, marshalling at send time, deep
// copies of posted events, watchers.

#include "standin/pktcore/StandinSession.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "appmgr/ClientEvents.h"
#include "marshal/Marshallable.h"

namespace {

struct Sample : pakt::Marshallable {
    uint32_t n = 0;
    std::string s;
    void marshal(pakt::Pack& p) const override {
        p.push_uint32(n);
        p.push_varstr(s);
    }
    void unmarshal(pakt::Unpack& up) override {
        n = up.pop_uint32();
        s = up.pop_varstr();
    }
};

class Watcher : public protocol::session::ISessionWatcher {
public:
    void onSessionEvent(const protocol::session::SessionEvent& event) override {
        received.push_back(event.type);
        if (action) action();
    }
    std::vector<int32_t> received;
    std::function<void()> action;
};

class NoopTask : public IProtoTask {
public:
    void run() override {}
    void setRepeat(bool) override {}
    bool isRepeat() override { return false; }
};

class StandinSessionTest : public ::testing::Test {
protected:
    void SetUp() override { standin::resetClock(); }
};

TEST_F(StandinSessionTest, RecordsEveryEffectInCallOrder) {
    standin::Session session(77);
    std::vector<std::size_t> observed;
    session.setObserver([&](const standin::Entry& e) { observed.push_back(e.index()); });
    Watcher watcher;
    NoopTask task;
    Sample body;

    session.addWatcher(&watcher);
    session.sendRequest(SessionRequest{100, "", 256466, &body});
    AppDataEvent event;
    session.postAppEvent(event);
    session.getTaskQueue()->addTask(&task, 10);
    standin::advanceClock(10);
    session.getTaskQueue()->removeTask(&task);
    session.removeWatcher(&watcher);

    // Variant indexes: 0 request, 1 event, 2 task call, 3 watcher call.
    const std::vector<std::size_t> expected{3, 0, 1, 2, 2, 2, 3};
    std::vector<std::size_t> recorded;
    for (const auto& e : session.entries()) recorded.push_back(e.index());
    EXPECT_EQ(recorded, expected);
    EXPECT_EQ(observed, expected);
    EXPECT_EQ(session.watchCalls().at(1).op, standin::WatchCall::Op::Remove);
    session.clearEntries();
    EXPECT_TRUE(session.entries().empty());
}

TEST_F(StandinSessionTest, RequestBodyIsMarshalledAtSendTime) {
    standin::Session session(1);
    auto body = std::make_unique<Sample>();
    body->n = 0x01020304;
    body->s = "hi";
    session.sendRequest(SessionRequest{100, "x", 0xABCD, body.get()});
    body->s = "changed";
    body.reset();
    session.sendRequest(SessionRequest{101, "", 5, nullptr});

    const auto requests = session.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].type, 100);
    EXPECT_EQ(requests[0].extra, "x");
    EXPECT_EQ(requests[0].uri, 0xABCDu);
    EXPECT_EQ(requests[0].body, std::string("\x04\x03\x02\x01"  // n u32
                                            "\x02\x00"          // varstr16 length 2
                                            "hi",
                                            8));
    EXPECT_EQ(requests[1].type, 101);
    EXPECT_EQ(requests[1].body, "") << "no body, no bytes";
}

TEST_F(StandinSessionTest, PostedEventsAreDeepCopiesOfTheirConcreteRecord) {
    standin::Session session(1);
    {
        auto added = std::make_unique<AppsAddedEvent>();
        added->sid = 9;
        added->appPacks.apps[5].str1 = "pack five";
        added->appPacks.apps[5].proxyIds = {11, 12};
        added->sidApps.sidApps[9].appIds = {5, 6};
        added->context = "ctx";
        AppAddedEvent one;
        one.info.versions.resize(2);
        one.info.versions[1].str2 = L"v";
        AppRemovedEvent removed;
        removed.str2 = L"gone";
        AppsDeletedEvent deleted;
        deleted.sidApps.sidAttrs[4].str = "attr";
        AppDataEvent data;
        data.data = std::string("\0\x01", 2);
        AnnounceAppsEvent announce;
        announce.body = "announce";
        AppEvent unknown;
        unknown.type = 4242;
        unknown.extra = "head";

        session.postAppEvent(*added);
        session.postAppEvent(one);
        session.postAppEvent(removed);
        session.postAppEvent(deleted);
        session.postAppEvent(data);
        session.postAppEvent(announce);
        session.postAppEvent(unknown);
    }  // every original is gone; the copies must stand alone

    const auto events = session.events();
    ASSERT_EQ(events.size(), 7u);
    const std::vector<uint32_t> types{1032, 1031, 1033, 1034, 1035, 2000, 4242};
    for (std::size_t i = 0; i < types.size(); ++i) {
        EXPECT_EQ(events[i].type, types[i]);
        EXPECT_EQ(events[i].record->type, types[i]);
    }
    const auto& added = events[0].as<AppsAddedEvent>();
    EXPECT_EQ(added.sid, 9u);
    EXPECT_EQ(added.appPacks.apps.at(5).str1, "pack five");
    EXPECT_EQ(added.appPacks.apps.at(5).proxyIds, (std::vector<uint64_t>{11, 12}));
    EXPECT_EQ(added.sidApps.sidApps.at(9).appIds, (std::vector<uint32_t>{5, 6}));
    EXPECT_EQ(added.context, "ctx");
    EXPECT_EQ(events[1].as<AppAddedEvent>().info.versions.at(1).str2, L"v");
    EXPECT_EQ(events[2].as<AppRemovedEvent>().str2, L"gone");
    EXPECT_EQ(events[3].as<AppsDeletedEvent>().sidApps.sidAttrs.at(4).str, "attr");
    EXPECT_EQ(events[4].as<AppDataEvent>().data, std::string("\0\x01", 2));
    EXPECT_EQ(events[5].as<AnnounceAppsEvent>().body, "announce");
    EXPECT_EQ(events[6].record->extra, "head");

    // A copy outlives the session's own list too.
    const auto kept = events[4].record;
    session.clearEntries();
    EXPECT_EQ(static_cast<const AppDataEvent&>(*kept).data.size(), 2u);
}

TEST_F(StandinSessionTest, WatchersGetEventsWhileRegistered) {
    standin::Session session(1);
    Watcher first;
    Watcher second;
    session.addWatcher(&first);
    session.addWatcher(&first);  // recorded, but registered once
    session.addWatcher(&second);
    EXPECT_EQ(session.watcherCount(), 2u);
    EXPECT_EQ(session.watchCalls().size(), 3u);

    protocol::session::SessionEvent event;
    event.type = protocol::session::EVENT_SESS_QUERY_APPS;
    session.deliverEvent(event);
    first.action = [&] { session.removeWatcher(&second); };
    event.type = protocol::session::EVENT_SESS_LEAVE;
    session.deliverEvent(event);
    EXPECT_EQ(first.received, (std::vector<int32_t>{8007, 8003}));
    EXPECT_EQ(second.received, (std::vector<int32_t>{8007})) << "removed during the delivery";
    EXPECT_EQ(session.watcherCount(), 1u);

    session.removeWatcher(&second);  // not registered: recorded, no effect
    EXPECT_EQ(session.watcherCount(), 1u);
    EXPECT_EQ(session.watchCalls().size(), 5u);
}

}  // namespace
