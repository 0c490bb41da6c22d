// The task queues and the process-wide virtual clock.

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/Pktcore.h"
#include "standin/pktcore/StandinSession.h"

namespace {

using Trace = std::vector<std::string>;

// A task that logs "<name>@<clock>" into a shared trace, then runs `action`.
struct TraceTask : IProtoTask {
    TraceTask(std::string n, Trace& t) : name(std::move(n)), trace(t) {}
    void run() override {
        trace.push_back(name + "@" + std::to_string(standin::clockNow()));
        if (action) action();
    }
    void setRepeat(bool r) override { repeat = r; }
    bool isRepeat() override { return repeat; }

    std::string name;
    Trace& trace;
    std::function<void()> action;
    bool repeat = true;
};

class VirtualClockTest : public ::testing::Test {
protected:
    void SetUp() override { standin::resetClock(); }

    Trace trace;
    standin::Session s1{1};
    standin::Session s2{2};
    TraceTask a{"a", trace};
    TraceTask b{"b", trace};
    TraceTask c{"c", trace};
};

TEST_F(VirtualClockTest, TasksOfAllSessionsRunInTimeThenQueueingOrderUntilRemoved) {
    s1.getTaskQueue()->addTask(&a, 30);
    s2.getTaskQueue()->addTask(&b, 20);
    s2.getTaskQueue()->addTask(&c, 60);
    standin::advanceClock(60);
    EXPECT_EQ(trace, (Trace{"b@20", "a@30", "b@40", "a@60", "b@60", "c@60"}));

    s2.getTaskQueue()->removeTask(&b);
    s2.getTaskQueue()->removeTask(&b);  // not queued: no effect
    s1.getTaskQueue()->removeTask(&a);
    standin::advanceClock(60);
    EXPECT_EQ(trace.size(), 7u);
    EXPECT_EQ(trace.back(), "c@120");

    a.setRepeat(false);  // runs once, then it is out of the queue
    s1.getTaskQueue()->addTask(&a, 10);
    standin::advanceClock(30);
    EXPECT_EQ(trace.back(), "a@130");
    EXPECT_FALSE(s1.taskQueue().isQueued(&a));
}

TEST_F(VirtualClockTest, ChangesMadeInsideARunTakeEffectAtOnce) {
    IProtoTaskQueue* queue = s1.getTaskQueue();
    a.action = [&] { queue->removeTask(&a); };
    b.action = [&] {
        s2.getTaskQueue()->removeTask(&c);
        if (standin::clockNow() == 50) queue->addTask(&b, 25);  // rescheduled from now
    };
    queue->addTask(&a, 10);
    queue->addTask(&b, 50);
    s2.getTaskQueue()->addTask(&c, 50);  // due with b, queued after it
    standin::advanceClock(100);
    EXPECT_EQ(trace, (Trace{"a@10", "b@50", "b@75", "b@100"}));

    queue->addTask(&b, 100);  // re-added between runs: due at 200, not at 125
    standin::advanceClock(99);
    EXPECT_EQ(trace.size(), 4u);
}

TEST_F(VirtualClockTest, MisuseIsRefusedAndDestroyedSessionsLeaveNoTasks) {
    {
        standin::Session session(3);
        session.getTaskQueue()->addTask(&a, 0);  // counts as 1 ms
        EXPECT_THROW(standin::resetClock(), std::logic_error);
        a.action = [] { standin::advanceClock(1); };
        EXPECT_THROW(standin::advanceClock(10), std::logic_error);  // the advance stops at the failing run
        a.action = nullptr;
        standin::advanceClock(2);  // the guard against nesting was released
    }
    standin::advanceClock(100);
    EXPECT_EQ(trace, (Trace{"a@1", "a@2", "a@3"}));
    EXPECT_NO_THROW(standin::resetClock());
    standin::advanceClock((uint64_t{1} << 32) + 5);
    EXPECT_EQ(ProtoTime::currentSystemTime(), 5u) << "the low 32 bits of the clock";
}

}  // namespace
