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

using standin::TaskCall;

// A task that logs "<name>@<clock>" into a shared trace and then runs an
// optional action.
class TraceTask : public IProtoTask {
public:
    TraceTask(std::string name, std::vector<std::string>& trace) : m_name(std::move(name)), m_trace(trace) {}
    void run() override {
        m_trace.push_back(m_name + "@" + std::to_string(standin::clockNow()));
        if (action) action();
    }
    void setRepeat(bool repeat) override { m_repeat = repeat; }
    bool isRepeat() override { return m_repeat; }

    std::function<void()> action;

private:
    std::string m_name;
    std::vector<std::string>& m_trace;
    bool m_repeat = false;
};

class VirtualClockTest : public ::testing::Test {
protected:
    void SetUp() override { standin::resetClock(); }

    std::vector<std::string> trace;
};

TEST_F(VirtualClockTest, TaskRunsEveryIntervalUntilRemoved) {
    standin::Session session(1);
    TraceTask task("t", trace);
    session.getTaskQueue()->addTask(&task, 100);
    standin::advanceClock(99);
    EXPECT_TRUE(trace.empty());
    standin::advanceClock(251);
    EXPECT_EQ(trace, (std::vector<std::string>{"t@100", "t@200", "t@300"}));
    EXPECT_EQ(standin::clockNow(), 350u);
    EXPECT_EQ(ProtoTime::currentSystemTime(), 350u);

    EXPECT_TRUE(session.taskQueue().isQueued(&task));
    session.getTaskQueue()->removeTask(&task);
    EXPECT_FALSE(session.taskQueue().isQueued(&task));
    standin::advanceClock(1000);
    EXPECT_EQ(trace.size(), 3u);

    std::vector<std::pair<TaskCall::Op, uint32_t>> calls;
    for (const auto& c : session.taskCalls()) {
        EXPECT_EQ(c.task, &task);
        calls.emplace_back(c.op, c.interval);
    }
    using enum TaskCall::Op;
    EXPECT_EQ(calls, (std::vector<std::pair<TaskCall::Op, uint32_t>>{
                         {Add, 100}, {Run, 0}, {Run, 0}, {Run, 0}, {Remove, 0}}));
}

TEST_F(VirtualClockTest, TasksOfAllSessionsRunInTimeThenQueueingOrder) {
    standin::Session s1(1);
    standin::Session s2(2);
    TraceTask a("a", trace);
    TraceTask b("b", trace);
    TraceTask c("c", trace);
    s1.getTaskQueue()->addTask(&a, 30);
    s2.getTaskQueue()->addTask(&b, 20);
    s2.getTaskQueue()->addTask(&c, 60);
    standin::advanceClock(60);
    EXPECT_EQ(trace, (std::vector<std::string>{"b@20", "a@30", "b@40", "a@60", "b@60", "c@60"}));
    EXPECT_EQ(s1.taskCalls().size(), 3u);  // add, 2 runs
    EXPECT_EQ(s2.taskCalls().size(), 6u);  // 2 adds, 4 runs
}

TEST_F(VirtualClockTest, RemovalInsideRunTakesEffectAtOnce) {
    standin::Session s1(1);
    standin::Session s2(2);
    TraceTask self("self", trace);
    TraceTask killer("killer", trace);
    TraceTask victim("victim", trace);
    self.action = [&] { s1.getTaskQueue()->removeTask(&self); };
    killer.action = [&] { s2.getTaskQueue()->removeTask(&victim); };
    s1.getTaskQueue()->addTask(&self, 10);
    s1.getTaskQueue()->addTask(&killer, 50);
    s2.getTaskQueue()->addTask(&victim, 50);  // due with killer, queued after it
    standin::advanceClock(200);
    EXPECT_EQ(trace, (std::vector<std::string>{"self@10", "killer@50", "killer@100", "killer@150", "killer@200"}));
    EXPECT_FALSE(s2.taskQueue().isQueued(&victim));
    EXPECT_TRUE(s1.taskQueue().isQueued(&killer));
    s1.getTaskQueue()->removeTask(&killer);
}

TEST_F(VirtualClockTest, ReAddingReschedulesFromNow) {
    standin::Session session(1);
    TraceTask task("t", trace);
    IProtoTaskQueue* queue = session.getTaskQueue();
    queue->addTask(&task, 100);
    standin::advanceClock(50);
    queue->addTask(&task, 100);  // now due at 150, not 100
    standin::advanceClock(99);
    EXPECT_TRUE(trace.empty());
    standin::advanceClock(51);
    EXPECT_EQ(trace, (std::vector<std::string>{"t@150"}));

    // Re-added from inside its own run with a new interval.
    task.action = [&] {
        task.action = nullptr;
        queue->addTask(&task, 5);
    };
    standin::advanceClock(60);
    EXPECT_EQ(trace, (std::vector<std::string>{"t@150", "t@250", "t@255", "t@260"}));

    queue->removeTask(&task);
    queue->removeTask(&task);  // not queued: recorded, no effect
    queue->addTask(&task, 0);  // zero interval counts as 1 ms
    standin::advanceClock(2);
    EXPECT_EQ(trace.back(), "t@262");
    queue->removeTask(&task);
    EXPECT_EQ(session.taskCalls().back().op, TaskCall::Op::Remove);
}

TEST_F(VirtualClockTest, MisuseIsRefusedAndDestroyedSessionsLeaveNoTasks) {
    TraceTask task("t", trace);
    {
        standin::Session session(1);
        session.getTaskQueue()->addTask(&task, 10);
        EXPECT_THROW(standin::resetClock(), std::logic_error);

        task.action = [] { standin::advanceClock(1); };
        EXPECT_THROW(standin::advanceClock(10), std::logic_error);
        EXPECT_EQ(standin::clockNow(), 10u) << "the advance stops at the failing run";
        task.action = [] { throw std::runtime_error("task failed"); };
        EXPECT_THROW(standin::advanceClock(10), std::runtime_error);
        task.action = nullptr;
        standin::advanceClock(10);  // the guard against nesting was released
        EXPECT_EQ(trace.size(), 3u);
    }
    standin::advanceClock(100);
    EXPECT_EQ(trace.size(), 3u);
    EXPECT_NO_THROW(standin::resetClock());
}

TEST_F(VirtualClockTest, SystemTimeIsTheClockTruncatedTo32Bits) {
    standin::advanceClock((uint64_t{1} << 32) + 5);
    EXPECT_EQ(standin::clockNow(), (uint64_t{1} << 32) + 5);
    EXPECT_EQ(ProtoTime::currentSystemTime(), 5u);
}

}  // namespace
