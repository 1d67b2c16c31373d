#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "BrisqFramework/Common/BrisqCore.h"
#include "BrisqFramework/Common/BrisqHandle.h"
#include "BrisqFramework/IO/BrisqThread.h"
#include "tests/support/log_capture.h"

namespace {

using BrisqFramework::BrisqEvent;
using BrisqFramework::BrisqHandle;
using BrisqFramework::kLogInfo;
using BrisqFramework::IO::BrisqThread;
using test_support::LogCapture;

std::vector<test_support::LogMessage> CloseLines(DWORD id) {
  const std::string tail = ",...) " + std::to_string(id);
  return {{kLogInfo, "[BrisqThread] Close(begin" + tail},
          {kLogInfo, "[BrisqThread] Close(end" + tail}};
}

// --- Running the closure ---

TEST(BrisqThreadRun, ClosureRunsOnceOnItsOwnThread) {
  BrisqThread thread;
  std::atomic<int> runs{0};
  std::atomic<DWORD> ranOn{0};
  ASSERT_TRUE(thread.Submit([&] {
    runs++;
    ranOn = ::GetCurrentThreadId();
  }));
  EXPECT_TRUE(thread.Close(INFINITE));
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(ranOn.load(), thread.ThreadId());
  EXPECT_NE(ranOn.load(), ::GetCurrentThreadId());
}

struct Counter {
  int value = 0;
  void Bump() { ++value; }
};

TEST(BrisqThreadRun, SubmitExRunsTheBoundMemberFunction) {
  Counter counter;
  BrisqThread thread;
  ASSERT_TRUE(thread.SubmitEx(&counter, &Counter::Bump));
  ASSERT_TRUE(thread.Close(INFINITE));
  EXPECT_EQ(counter.value, 1);
}

// --- Lifetime: the running thread keeps its own closure ---

TEST(BrisqThreadLifetime, ResubmitWhileTheFirstThreadRunsKeepsEachClosure) {
  BrisqEvent release;
  ASSERT_TRUE(release.CreateEvent(nullptr));
  auto first = std::make_shared<std::atomic<int>>(0);
  auto second = std::make_shared<std::atomic<int>>(0);

  BrisqThread thread;
  ASSERT_TRUE(thread.Submit([&release, first] {
    release.Wait(INFINITE);
    (*first)++;
  }));
  const BrisqHandle firstThread(::OpenThread(SYNCHRONIZE, FALSE, thread.ThreadId()));
  ASSERT_TRUE(firstThread);
  ASSERT_TRUE(thread.Submit([second] { (*second)++; }));  // replaces the stored closure
  EXPECT_TRUE(thread.Close(INFINITE));
  EXPECT_EQ(second->load(), 1);

  release.SetEvent();
  EXPECT_EQ(::WaitForSingleObject(firstThread.Get(), 5000), WAIT_OBJECT_0);
  EXPECT_EQ(first->load(), 1) << "the first thread must run its own closure, not the new one";
  EXPECT_EQ(second->load(), 1);
}

TEST(BrisqThreadLifetime, DestroyingTheOwnerDoesNotStopOrBreakTheThread) {
  BrisqEvent release;
  BrisqEvent finished;
  ASSERT_TRUE(release.CreateEvent(nullptr));
  ASSERT_TRUE(finished.CreateEvent(nullptr));
  auto thread = std::make_unique<BrisqThread>();
  ASSERT_TRUE(thread->Submit([&] {
    release.Wait(INFINITE);
    finished.SetEvent();
  }));
  thread.reset();
  release.SetEvent();
  EXPECT_TRUE(finished.Wait(5000));
}

// --- Close: time limit, result and log lines ---

TEST(BrisqThreadClose, TimeOutReportsFalseAndStillClosesTheHandle) {
  BrisqEvent release;
  ASSERT_TRUE(release.CreateEvent(nullptr));
  BrisqThread thread;
  ASSERT_TRUE(thread.Submit([&] { release.Wait(INFINITE); }));
  const BrisqHandle running(::OpenThread(SYNCHRONIZE, FALSE, thread.ThreadId()));
  EXPECT_FALSE(thread.Close(10));
  EXPECT_FALSE(thread.HasThread());
  release.SetEvent();
  ::WaitForSingleObject(running.Get(), 5000);
}

TEST(BrisqThreadClose, LogsBeginAndEndWithTheThreadId) {
  LogCapture capture;
  BrisqThread thread;
  ASSERT_TRUE(thread.Submit([] {}));
  const DWORD id = thread.ThreadId();
  ASSERT_TRUE(thread.Close(INFINITE));
  EXPECT_EQ(capture.Messages(), CloseLines(id));
}

TEST(BrisqThreadClose, WithoutAThreadReturnsFalseAfterBothLines) {
  LogCapture capture;
  BrisqThread thread;
  EXPECT_FALSE(thread.Close(INFINITE));
  EXPECT_EQ(capture.Messages(), CloseLines(0));

  ASSERT_TRUE(thread.Submit([] {}));
  ASSERT_TRUE(thread.Close(INFINITE));
  EXPECT_FALSE(thread.Close(INFINITE)) << "a second Close has no thread left";
}

}  // namespace
