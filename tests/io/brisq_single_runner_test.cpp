#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <future>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/IO/BrisqSingleRunner.h"
#include "tests/support/log_capture.h"
#include "tests/support/wait_until.h"

namespace {

using BrisqFramework::BrisqEvent;
using BrisqFramework::IO::BrisqSingleRunner;
using State = BrisqSingleRunner::State;

// Waits (briefly polling) until the runner reaches `state`; false after 5 s.
bool AwaitState(const BrisqSingleRunner& runner, State state) {
  return test_support::WaitUntil([&] { return runner.GetState() == state; },
                                 std::chrono::seconds(5), std::chrono::milliseconds(1));
}

// Queues a task that signals `done` and waits for it: everything queued
// before has run.
void Drain(BrisqSingleRunner& runner) {
  BrisqEvent done;
  ASSERT_TRUE(done.CreateEvent(nullptr));
  ASSERT_TRUE(runner.Submit([&done] { done.SetEvent(); }));
  ASSERT_TRUE(done.Wait(5000));
}

// Whoever runs Hold() signals `entered`, then waits until `open` is set.
struct Gate {
  BrisqEvent entered;
  BrisqEvent open;
  Gate() {
    entered.CreateEvent(nullptr);
    open.CreateEvent(nullptr);
  }
  void Hold() {
    entered.SetEvent();
    open.Wait(INFINITE);
  }
};

// Notes each step (OnStart, OnStop and the tasks that ask) with its thread
// and the state it saw; OnStart passes `startGate` first when set.
class RecordingRunner : public BrisqSingleRunner {
 public:
  using Step = std::tuple<std::string, DWORD, int>;  // what, thread, state
  ~RecordingRunner() override { Close(); }
  void Note(const char* what) { steps.emplace_back(what, ::GetCurrentThreadId(), GetState()); }

  std::vector<Step> steps;  // the worker's only, read after Close
  Gate* startGate = nullptr;

 protected:
  void OnStart() override {
    if (startGate != nullptr) startGate->Hold();
    Note("start");
  }
  void OnStop() override { Note("stop"); }
};
using Steps = std::vector<RecordingRunner::Step>;

// A runner whose OnStart is held at `gate`.
struct HeldStartRunner : RecordingRunner {
  Gate gate;
  HeldStartRunner() { startGate = &gate; }
};

// --- Order: one worker, queue order, OnStart/OnStop around the tasks ---

TEST(BrisqSingleRunnerOrder, TasksRunInQueueOrderOnTheWorker) {
  BrisqSingleRunner runner;
  ASSERT_TRUE(runner.Open());
  std::vector<std::pair<int, DWORD>> ran;  // touched by the worker only, read after Drain
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(runner.Submit([&, i] { ran.emplace_back(i, ::GetCurrentThreadId()); }));
  }
  Drain(runner);
  EXPECT_TRUE(runner.Close());
  ASSERT_EQ(ran.size(), 200u);
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(ran[i].first, i);
    EXPECT_EQ(ran[i].second, ran[0].second) << "one worker runs every task";
  }
  EXPECT_NE(ran[0].second, ::GetCurrentThreadId());
}

TEST(BrisqSingleRunnerOrder, OnStartAndOnStopFrameTheTasksOnTheWorker) {
  RecordingRunner runner;
  ASSERT_TRUE(runner.Open());
  ASSERT_TRUE(runner.Submit([&] { runner.Note("task"); }));
  Drain(runner);
  ASSERT_TRUE(runner.Close());
  ASSERT_FALSE(runner.steps.empty());
  const DWORD worker = std::get<1>(runner.steps[0]);
  EXPECT_NE(worker, ::GetCurrentThreadId());
  EXPECT_EQ(runner.steps, (Steps{{"start", worker, BrisqSingleRunner::kStarting},
                                 {"task", worker, BrisqSingleRunner::kRunning},
                                 {"stop", worker, BrisqSingleRunner::kClosing}}));
}

TEST(BrisqSingleRunnerOrder, ProducersDoNotWaitForARunningTask) {
  BrisqSingleRunner runner;
  ASSERT_TRUE(runner.Open());
  Gate gate;
  ASSERT_TRUE(runner.Submit([&] { gate.Hold(); }));
  ASSERT_TRUE(gate.entered.Wait(5000));
  std::atomic<int> later{0};
  auto submitted = std::async(std::launch::async, [&] { return runner.Submit([&] { later++; }); });
  const bool returned = submitted.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  gate.open.SetEvent();  // unblock in any case so that the runner can close
  EXPECT_TRUE(returned) << "Submit must only wait for the queue swap, not for the task";
  EXPECT_TRUE(submitted.get());
  Drain(runner);
  EXPECT_EQ(later.load(), 1);
  runner.Close();
}

TEST(BrisqSingleRunnerOrder, TaskSubmittedFromATaskRunsInALaterBatch) {
  BrisqSingleRunner runner;
  ASSERT_TRUE(runner.Open());
  std::vector<std::string> order;  // worker only
  Gate gate;
  ASSERT_TRUE(runner.Submit([&] {
    gate.Hold();
    order.push_back("a");
    runner.Submit([&] {
      order.push_back("c");
      gate.entered.SetEvent();
    });
  }));
  ASSERT_TRUE(runner.Submit([&] { order.push_back("b"); }));
  ASSERT_TRUE(gate.entered.Wait(5000));
  gate.open.SetEvent();
  ASSERT_TRUE(gate.entered.Wait(5000)) << "task c ran";
  runner.Close();
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c"}));
}

// --- Close: what still runs and what is refused ---

TEST(BrisqSingleRunnerClose, NothingQueuedBehindTheRunningBatchRunsAfterClose) {
  BrisqSingleRunner runner;
  ASSERT_TRUE(runner.Open());
  Gate gate;
  std::atomic<int> first{0};
  std::atomic<int> dropped{0};
  ASSERT_TRUE(runner.Submit([&] {
    gate.Hold();
    first++;
  }));
  ASSERT_TRUE(gate.entered.Wait(5000));
  ASSERT_TRUE(runner.Submit([&] { dropped++; }));  // waits behind the running batch

  auto closed = std::async(std::launch::async, [&] { return runner.Close(); });
  EXPECT_TRUE(AwaitState(runner, BrisqSingleRunner::kClosing));
  EXPECT_FALSE(runner.Submit([&] { dropped++; })) << "Submit while closing";
  gate.open.SetEvent();
  EXPECT_TRUE(closed.get());
  EXPECT_EQ(first.load(), 1) << "the task already running finishes";
  EXPECT_EQ(dropped.load(), 0);
  EXPECT_EQ(runner.GetState(), BrisqSingleRunner::kEnded);
  EXPECT_FALSE(runner.Submit([&] { dropped++; })) << "Submit after the end";
}

TEST(BrisqSingleRunnerClose, ClosingTwiceOnlyJoinsAgain) {
  BrisqSingleRunner runner;
  ASSERT_TRUE(runner.Open());
  EXPECT_TRUE(runner.Close());
  EXPECT_FALSE(runner.Close()) << "no worker is left to join";
}

TEST(BrisqSingleRunnerClose, CloseOfANeverOpenedRunnerReturns) {
  BrisqSingleRunner runner;
  EXPECT_FALSE(runner.Close());
}

TEST(BrisqSingleRunnerClose, DestructorJoinsAWorkerNeverClosed) {
  std::atomic<DWORD> worker{0};
  {
    BrisqSingleRunner runner;
    ASSERT_TRUE(runner.Open());
    ASSERT_TRUE(runner.Submit([&] { worker = ::GetCurrentThreadId(); }));
    Drain(runner);
  }
  const HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, worker.load());
  if (thread != nullptr) {  // null: the thread is gone entirely
    EXPECT_EQ(::WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "joined before the runner went";
    ::CloseHandle(thread);
  }
}

// --- States ---

TEST(BrisqSingleRunnerState, IdleRunningEndedAndOpenAgain) {
  BrisqSingleRunner runner;
  EXPECT_EQ(runner.GetState(), BrisqSingleRunner::kIdle);
  EXPECT_FALSE(runner.Submit([] {})) << "Submit before Open";
  ASSERT_TRUE(runner.Open());
  EXPECT_EQ(runner.GetState(), BrisqSingleRunner::kRunning);
  ASSERT_TRUE(runner.Close());
  EXPECT_EQ(runner.GetState(), BrisqSingleRunner::kEnded);
  ASSERT_TRUE(runner.Open()) << "a runner may be opened again after it ended";
  std::atomic<int> ran{0};
  ASSERT_TRUE(runner.Submit([&] { ran++; }));
  Drain(runner);
  EXPECT_EQ(ran.load(), 1);
  ASSERT_TRUE(runner.Close());
}

TEST(BrisqSingleRunnerState, SubmitWhileStartingIsRefused) {
  HeldStartRunner runner;
  auto opened = std::async(std::launch::async, [&] { return runner.Open(); });
  EXPECT_TRUE(runner.gate.entered.Wait(5000));
  EXPECT_EQ(runner.GetState(), BrisqSingleRunner::kStarting);
  EXPECT_FALSE(runner.Submit([] {}));
  EXPECT_FALSE(runner.Open()) << "a second worker must not be started";
  runner.gate.open.SetEvent();
  EXPECT_TRUE(opened.get());
  ASSERT_TRUE(AwaitState(runner, BrisqSingleRunner::kRunning));
  EXPECT_TRUE(runner.Submit([] {}));
  EXPECT_TRUE(runner.Close());
}

TEST(BrisqSingleRunnerState, CloseDuringOnStartStaysClosingAndTheWorkerEnds) {
  HeldStartRunner runner;
  auto opened = std::async(std::launch::async, [&] { return runner.Open(); });
  ASSERT_TRUE(runner.gate.entered.Wait(5000));
  auto closed = std::async(std::launch::async, [&] { return runner.Close(); });
  ASSERT_TRUE(AwaitState(runner, BrisqSingleRunner::kClosing));
  runner.gate.open.SetEvent();
  EXPECT_TRUE(closed.get()) << "the worker ends";
  EXPECT_TRUE(opened.get());
  ASSERT_FALSE(runner.steps.empty());
  const DWORD worker = std::get<1>(runner.steps[0]);
  EXPECT_EQ(runner.steps, (Steps{{"start", worker, BrisqSingleRunner::kClosing},
                                 {"stop", worker, BrisqSingleRunner::kClosing}}))
      << "never turned running";
  EXPECT_EQ(runner.GetState(), BrisqSingleRunner::kEnded);
  EXPECT_FALSE(runner.Submit([] {}));
}

TEST(BrisqSingleRunnerState, OpenGivesUpAfterOneSecondAndTheLateStartStillWorks) {
  HeldStartRunner runner;
  const ULONGLONG begin = ::GetTickCount64();
  ASSERT_TRUE(runner.Open()) << "the worker exists";
  const ULONGLONG waited = ::GetTickCount64() - begin;
  EXPECT_GE(waited, 900u);
  EXPECT_LT(waited, 5000u);
  EXPECT_EQ(runner.GetState(), BrisqSingleRunner::kStarting);
  runner.gate.open.SetEvent();  // the start event comes after Open stopped waiting for it
  ASSERT_TRUE(AwaitState(runner, BrisqSingleRunner::kRunning));
  std::atomic<int> ran{0};
  ASSERT_TRUE(runner.Submit([&] { ran++; }));
  Drain(runner);
  EXPECT_EQ(ran.load(), 1);
  EXPECT_TRUE(runner.Close());
}

TEST(BrisqSingleRunnerState, SecondOpenWhileRunningIsRefused) {
  BrisqSingleRunner runner;
  ASSERT_TRUE(runner.Open());
  EXPECT_FALSE(runner.Open());
  EXPECT_EQ(runner.GetState(), BrisqSingleRunner::kRunning);
  EXPECT_TRUE(runner.Close());
}

// --- Log lines ---

TEST(BrisqSingleRunnerLog, CloseLogsTheWorkerThreadsJoin) {
  BrisqSingleRunner runner;
  ASSERT_TRUE(runner.Open());
  std::atomic<DWORD> worker{0};
  ASSERT_TRUE(runner.Submit([&] { worker = ::GetCurrentThreadId(); }));
  Drain(runner);
  test_support::LogCapture capture;
  ASSERT_TRUE(runner.Close());
  const std::string id = std::to_string(worker.load());
  const std::vector<test_support::LogMessage> expected = {
      {BrisqFramework::kLogInfo, "[BrisqThread] Close(begin,...) " + id},
      {BrisqFramework::kLogInfo, "[BrisqThread] Close(end,...) " + id}};
  EXPECT_EQ(capture.Messages(), expected);
}

}  // namespace
