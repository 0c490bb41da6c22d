// The checks of a fault-sweep run, handed runs that a sound module and a
// faulty one would produce: which exception must leave a step that has one
// of its own, and that what a run leaves behind is caught whatever the
// step ended in.
#include "tools/sapp-host/scenario/SweepCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sapphost {
namespace {

using standin::HostCall;

const std::string kUnpack = "UnpackError: pop_uint32: not enough data";

std::string fault(HostCall call) { return std::string("HostFault: host fault: ") + standin::hostCallName(call); }

RaisedError raised(HostCall call, bool injected) { return RaisedError{call, fault(call), injected}; }

// A run of three steps and the closing: getModule, a packet whose record
// does not decode (it throws UnpackError without a fault), a leave whose
// removeWatcher the scenario makes fail, and the host's closing, which
// destroys the module.
RunRecord baseline() {
    RunRecord base;
    base.steps.resize(4);
    base.steps[0].calls = {HostCall::GetSid, HostCall::AddWatcher};
    base.steps[0].logs = {"[sapp] SAppModule::getInstance"};
    base.steps[1].calls = {HostCall::GetUri, HostCall::Unmarshal};
    base.steps[1].errors = {LeftError{kUnpack, 0}};
    base.steps[2].calls = {HostCall::RemoveWatcher, HostCall::ReleaseRef, HostCall::RemoveTask};
    base.steps[2].raised = {raised(HostCall::RemoveWatcher, false)};
    base.steps[2].errors = {LeftError{fault(HostCall::RemoveWatcher), 1}};
    base.steps[3].logs = {"[sapp] SAppModule::~VideoModule, exit"};
    return base;
}

// The baseline with call `k` of step `i` failing, the steps up to `i` as
// the baseline did them; the test then sets what step `i` and later ones did.
RunRecord faultAt(const RunRecord& base, std::size_t i, std::size_t k) {
    RunRecord run = base;
    run.failed = base.steps[i].calls[k];
    return run;
}

// A step that throws UnpackError without a fault: a fault before the
// decode must leave in its place; a module that let the decode error out
// instead would have gone on past the host's exception.
TEST(SweepCheckTest, AFaultBeforeTheStepsOwnErrorMustLeaveInItsPlace) {
    const RunRecord base = baseline();
    RunRecord run = faultAt(base, 1, 1);
    run.steps[1].raised = {raised(HostCall::Unmarshal, true)};
    run.steps[1].errors = {LeftError{fault(HostCall::Unmarshal), 1}};
    const RunVerdict passed = checkRun(base, run, 1, 1);
    EXPECT_TRUE(passed.problems.empty()) << passed.problems.front();
    EXPECT_EQ(passed.outcome, FaultOutcome::InPlaceOfOwn);

    run.steps[1].errors = {LeftError{kUnpack, 1}};
    const RunVerdict swallowed = checkRun(base, run, 1, 1);
    ASSERT_EQ(swallowed.problems.size(), 1u);
    EXPECT_EQ(swallowed.problems[0], "step 1 did not pass the HostFault on: it threw " + kUnpack);

    run.steps[1].errors.clear();
    const RunVerdict kept = checkRun(base, run, 1, 1);
    ASSERT_EQ(kept.problems.size(), 1u);
    EXPECT_EQ(kept.problems[0], "step 1 did not pass the HostFault on: it threw nothing");
}

// A teardown goes on after the scenario's removeWatcher fault: a later
// fault of the sweep is dropped and the first exception leaves.
TEST(SweepCheckTest, AFaultAfterTheStepsOwnExceptionIsDroppedAndTheFirstLeaves) {
    const RunRecord base = baseline();
    RunRecord run = faultAt(base, 2, 2);
    run.steps[2].raised = {raised(HostCall::RemoveWatcher, false), raised(HostCall::RemoveTask, true)};
    run.steps[2].errors = {LeftError{fault(HostCall::RemoveWatcher), 2}};
    const RunVerdict passed = checkRun(base, run, 2, 2);
    EXPECT_TRUE(passed.problems.empty()) << passed.problems.front();
    EXPECT_EQ(passed.outcome, FaultOutcome::OwnError);

    run.steps[2].errors = {LeftError{fault(HostCall::RemoveTask), 2}};
    const RunVerdict last = checkRun(base, run, 2, 2);
    ASSERT_EQ(last.problems.size(), 1u);
    EXPECT_EQ(last.problems[0], "step 2 met " + fault(HostCall::RemoveWatcher) + " first, but " +
                                    fault(HostCall::RemoveTask) + " left it");
}

// After the fault, a step may end in what the scenario makes it throw (its
// own module error, or its fault switch where the fault moved it), and in
// nothing else.
TEST(SweepCheckTest, LaterStepsMayEndOnlyInExceptionsOfTheScenarioItself) {
    const RunRecord base = baseline();
    RunRecord run = faultAt(base, 0, 1);
    run.steps[0].raised = {raised(HostCall::AddWatcher, true)};
    run.steps[0].errors = {LeftError{fault(HostCall::AddWatcher), 1}};
    // No session: the packet and the leave reach no context.
    run.steps[1] = run.steps[2] = StepRecord{};
    EXPECT_TRUE(checkRun(base, run, 0, 1).problems.empty());

    run.steps[1] = base.steps[1];
    run.steps[2].raised = {raised(HostCall::RemoveWatcher, false)};
    run.steps[2].errors = {LeftError{fault(HostCall::RemoveWatcher), 1}};
    EXPECT_TRUE(checkRun(base, run, 0, 1).problems.empty());

    run.steps[1].errors = {LeftError{"other: std::bad_alloc", 0}};
    run.steps[2].errors.clear();
    const std::vector<std::string> problems = checkRun(base, run, 0, 1).problems;
    EXPECT_EQ(problems, (std::vector<std::string>{
                            "step 1 threw other: std::bad_alloc, which it does not throw without the fault",
                            "step 2 kept " + fault(HostCall::RemoveWatcher) + " of removeWatcher: nothing left it"}));
}

// What a run leaves behind fails it whether its step ended in the fault or
// in its own exception.
TEST(SweepCheckTest, WhatARunLeavesIsCaughtWhateverTheStepEndedIn) {
    const RunRecord base = baseline();
    RunRecord run = faultAt(base, 2, 2);
    run.steps[2].raised = {raised(HostCall::RemoveWatcher, false), raised(HostCall::RemoveTask, true)};
    run.steps[2].errors = {LeftError{fault(HostCall::RemoveWatcher), 2}};
    run.problems = {"a session's queue kept the module's task"};
    run.steps[3].logs.clear();
    EXPECT_EQ(checkRun(base, run, 2, 2).problems,
              (std::vector<std::string>{"a session's queue kept the module's task",
                                        "the module was not destroyed at the end"}));
}

// A log call's fault costs a line and nothing else: a step that throws
// without the fault still ends in its own exception.
TEST(SweepCheckTest, ALogFaultLeavesTheStepsOwnExceptionAsItWas) {
    RunRecord base = baseline();
    base.steps[1].calls.insert(base.steps[1].calls.begin(), HostCall::Write);
    base.steps[1].logs = {"[sapp] SAppProtoHandler::onAddApp"};
    RunRecord run = faultAt(base, 1, 0);
    run.steps[1].logs.clear();
    const RunVerdict passed = checkRun(base, run, 1, 0);
    EXPECT_TRUE(passed.problems.empty()) << passed.problems.front();
    EXPECT_EQ(passed.outcome, FaultOutcome::LineDroppedOwn);

    run.steps[1].errors.clear();
    EXPECT_EQ(checkRun(base, run, 1, 0).problems,
              std::vector<std::string>{"step 1 threw: nothing; without the fault: " + kUnpack});
}

}  // namespace
}  // namespace sapphost
