#include "BrisqFramework/Common/BrisqCore.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/named_objects.h"
#include "tests/support/unique_name.h"

namespace BrisqFramework {
namespace {

using test_support::EventExists;
using test_support::LogCapture;
using test_support::LogClock;
using test_support::MutexExists;
using test_support::SemaphoreExists;

// Named objects are shared across processes: the test binary starts itself
// again with "--child <role> <name>", and the child plays the other side.
// The role runs before GoogleTest's main and ends the process with its code.
int RunChildRole(const std::wstring& role, const std::wstring& name) {
  if (role == L"semaphore-release-2") {
    BrisqSemaphore semaphore;
    if (!semaphore.Open(name.c_str())) return 10;
    semaphore.Release();
    semaphore.Release();
    return 0;
  }
  if (role == L"event-set") {
    BrisqEvent event;
    if (!event.OpenEvent(name.c_str())) return 11;
    return event.SetEvent() ? 0 : 12;
  }
  if (role == L"mutex-exists") {
    BrisqMutex mutex;
    if (!mutex.Create(name.c_str())) return 15;
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 16;
  }
  return 99;
}

[[maybe_unused]] const int g_child_role_checked = [] {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv != nullptr && argc == 4 && std::wstring(argv[1]) == L"--child") {
    ::ExitProcess(static_cast<UINT>(RunChildRole(argv[2], argv[3])));
  }
  if (argv != nullptr) ::LocalFree(argv);
  return 0;
}();

// Runs this binary in `role` on `name`; returns its exit code.
int RunChild(const std::wstring& role, const std::wstring& name) {
  test_support::ChildProcess child;
  if (!child.StartSelf(L"--child " + role + L" " + name)) return -1;
  return static_cast<int>(child.Wait());
}

// A name no other test or run uses, in the global namespace.
std::wstring UniqueName(const wchar_t* kind) {
  return L"Global\\" + test_support::UniqueName(kind);
}

// Number of immediate successful waits, i.e. the semaphore's current count.
int DrainCount(HANDLE h) {
  int n = 0;
  while (n < 100 && ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0) ++n;
  return n;
}

TEST(SystemErrorText, SingleLineWithoutBreaksEmptyWhenUnknown) {
  const std::string text = BrisqErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(std::string::npos, text.find_first_of("\r\n"));
  EXPECT_STREQ("", BrisqErrorText(0x2FFFFFFF));
}

TEST(SystemErrorText, LastErrorFormMatchesCodeFormAndKeepsLastError) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  const std::string from_last = BrisqLastErrorText();
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
  EXPECT_EQ(std::string(BrisqErrorText(ERROR_ACCESS_DENIED)), from_last);
}

// Each thread reads its own text, even while another thread formats another.
TEST(SystemErrorText, TextIsPerThread) {
  const char* mine = BrisqErrorText(ERROR_FILE_NOT_FOUND);
  const std::string expected = mine;
  std::thread other([] {
    for (int i = 0; i < 50; ++i) BrisqErrorText(ERROR_ACCESS_DENIED);
  });
  other.join();
  EXPECT_EQ(expected, std::string(mine));
  EXPECT_NE(expected, std::string(BrisqErrorText(ERROR_ACCESS_DENIED)));
}

TEST(BrisqLockTest, SpinCountIs4000) {
  BrisqLock lock;
  EXPECT_EQ(4000u, lock.NativeHandle()->SpinCount & 0x00FFFFFF);
}

TEST(BrisqLockTest, AutoLockExcludesOtherThreads) {
  BrisqLock lock;
  long counter = 0;  // guarded by lock
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        BrisqAutoLock guard(lock);
        long seen = counter;
        if (i % 16 == 0) ::SwitchToThread();  // invite a racing thread in
        counter = seen + 1;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(20000, counter);
}

TEST(BrisqConditionVariableTest, WakeReleasesASleeper) {
  BrisqLock lock;
  BrisqConditionVariable condition;
  bool ready = false;  // guarded by lock
  bool woke = false;   // guarded by lock
  std::thread sleeper([&] {
    BrisqAutoLock guard(lock);
    while (!ready) condition.Sleep(lock);
    woke = true;
  });
  ::Sleep(20);
  {
    BrisqAutoLock guard(lock);
    ready = true;
    condition.Wake();
  }
  sleeper.join();
  BrisqAutoLock guard(lock);
  EXPECT_TRUE(woke);
}

// Every event case runs under a capture: most of them check what was logged.
class BrisqEventTest : public ::testing::Test {
 protected:
  // Exactly one line was logged: an ERROR with its source position and this message.
  void ExpectOnlyError(const std::string& message) {
    const auto lines = capture.Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(kLogError, lines[0].severity);
    EXPECT_NE("<null>", lines[0].file);
    EXPECT_GT(lines[0].line, 0);
    EXPECT_EQ(message + "\n", lines[0].text.substr(lines[0].text.find("] : ") + 4));
  }

  LogCapture capture{LogClock::kDriven};
  const std::wstring name = UniqueName(L"Event");
  BrisqEvent event;
};

TEST_F(BrisqEventTest, EmptyEventFailsWithoutLogging) {
  EXPECT_FALSE(event.SetEvent());
  EXPECT_FALSE(event.ResetEvent());
  EXPECT_FALSE(event.Wait(0));
  EXPECT_TRUE(capture.Lines().empty());
}

TEST_F(BrisqEventTest, ZeroTimeoutOnUnsignalledReturnsAtOnceWithInfoLine) {
  ASSERT_TRUE(event.CreateEvent());
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_FALSE(event.Wait(0));
  EXPECT_LT(::GetTickCount64() - start, 1000u);
  EXPECT_FALSE(event.Wait(15));
  EXPECT_EQ((std::vector<std::string>{
                "[11:22:2024-01-02/03:04:05.006:INFO] : WaitForSingleObject timeout 0\n",
                std::string(LogCapture::kInfoPrefix) + ": WaitForSingleObject timeout 15\n"}),
            capture.Texts());
}

TEST_F(BrisqEventTest, AutoResetAfterOneWaitAndResetClears) {
  ASSERT_TRUE(event.CreateEvent());
  EXPECT_TRUE(event.SetEvent());
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));
  EXPECT_TRUE(event.SetEvent());
  EXPECT_TRUE(event.ResetEvent());
  EXPECT_FALSE(event.Wait(0));
}

TEST_F(BrisqEventTest, CreateUnderExistingNameOpensThatEvent) {
  BrisqEvent second;
  ASSERT_TRUE(event.CreateEvent(name.c_str()));
  ASSERT_TRUE(second.CreateEvent(name.c_str()));
  EXPECT_TRUE(event.SetEvent());
  EXPECT_TRUE(second.Wait(0));
}

TEST_F(BrisqEventTest, OpenMissingNameFailsWithErrorLine) {
  EXPECT_FALSE(event.OpenEvent(name.c_str()));
  EXPECT_FALSE(event.IsValid());
  ExpectOnlyError("Failed to OpenEvent(2," + std::string(BrisqErrorText(2)) + ")");
}

// A semaphore already owns the name: CreateEventW fails with
// ERROR_INVALID_HANDLE and the wrapper stays empty.
TEST_F(BrisqEventTest, CreateFailureLogsAndLeavesEmpty) {
  BrisqSemaphore taken;
  ASSERT_TRUE(taken.Create(name.c_str()));
  EXPECT_FALSE(event.CreateEvent(name.c_str()));
  EXPECT_FALSE(event.IsValid());
  ExpectOnlyError("Failed to CreateEventW(6," + std::string(BrisqErrorText(6)) + ")");
}

// The one owner: each kind's empty values own nothing, a move leaves the
// source empty, resetting to the held value keeps it open, a view is unmapped.
TEST(BrisqHandleOwner, EmptyValuesMovesResetsAndViews) {
  const std::wstring name = UniqueName(L"Owner");
  BrisqHandle event(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  ASSERT_TRUE(event.IsValid());
  BrisqHandle moved(std::move(event));
  EXPECT_FALSE(event.IsValid());
  moved.Reset(moved.Get());
  EXPECT_TRUE(EventExists(name)) << "resetting to the held handle must not close it";
  HANDLE raw = moved.Detach();
  EXPECT_TRUE(EventExists(name));
  BrisqHandle(raw).Reset();
  EXPECT_FALSE(EventExists(name));

  EXPECT_FALSE(BrisqFileHandle().IsValid());
  EXPECT_FALSE(BrisqFileHandle(nullptr).IsValid());
  EXPECT_FALSE(BrisqFileHandle(INVALID_HANDLE_VALUE).IsValid());

  BrisqHandle mapping(
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr));
  ASSERT_TRUE(mapping.IsValid());
  BrisqMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_TRUE(view.IsValid());
  void* address = view.Get();
  view.Reset();
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_NE(::VirtualQuery(address, &info, sizeof(info)), 0u);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE)) << "the view is unmapped";
}

// Creating or opening again must not leak the handle held before.
TEST_F(BrisqEventTest, ReplacingClosesPreviousHandle) {
  const std::wstring other = UniqueName(L"ReplaceB");
  ASSERT_TRUE(event.CreateEvent(name.c_str()));
  ASSERT_TRUE(event.CreateEvent(other.c_str()));
  EXPECT_FALSE(EventExists(name));
  BrisqEvent keeper;
  ASSERT_TRUE(keeper.CreateEvent(name.c_str()));
  ASSERT_TRUE(event.OpenEvent(name.c_str()));
  EXPECT_FALSE(EventExists(other));
  EXPECT_FALSE(event.OpenEvent(other.c_str()));  // a failed open also drops the old handle
  keeper.Close();
  EXPECT_FALSE(EventExists(name));
}

// Re-creating under the same name keeps the event and its signal.
TEST_F(BrisqEventTest, RecreateKeepsNamedEventState) {
  ASSERT_TRUE(event.CreateEvent(name.c_str()));
  ASSERT_TRUE(event.SetEvent());
  ASSERT_TRUE(event.CreateEvent(name.c_str()));
  EXPECT_TRUE(event.Wait(0));
}

TEST_F(BrisqEventTest, CloseEmptiesTheWrapper) {
  ASSERT_TRUE(event.CreateEvent(name.c_str()));
  event.Close();
  EXPECT_FALSE(event.IsValid());
  EXPECT_FALSE(EventExists(name));
  EXPECT_FALSE(event.SetEvent());
}

TEST_F(BrisqEventTest, SignalFromAnotherProcess) {
  ASSERT_TRUE(event.CreateEvent(name.c_str()));
  EXPECT_EQ(0, RunChild(L"event-set", name));
  EXPECT_TRUE(event.Wait(0));
}

// Every mutex case starts with a mutex created under a fresh name.
class BrisqMutexTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(mutex.Create(name.c_str())); }
  const std::wstring name = UniqueName(L"Mutex");
  BrisqMutex mutex;
};

TEST_F(BrisqMutexTest, CreatorDoesNotOwnIt) {
  DWORD result = WAIT_FAILED;
  std::thread other([&] {
    result = ::WaitForSingleObject(mutex.Handle(), 0);
    if (result == WAIT_OBJECT_0) ::ReleaseMutex(mutex.Handle());
  });
  other.join();
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), result);
}

TEST_F(BrisqMutexTest, SecondProcessFindsTheName) { EXPECT_EQ(0, RunChild(L"mutex-exists", name)); }

TEST_F(BrisqMutexTest, CreateAgainClosesPreviousHandle) {
  ASSERT_TRUE(mutex.Create(UniqueName(L"MutexB").c_str()));
  EXPECT_FALSE(MutexExists(name));
  mutex.Close();
  EXPECT_FALSE(mutex.IsValid());
}

class BrisqSemaphoreTest : public ::testing::Test {
 protected:
  const std::wstring name = UniqueName(L"Sem");
  BrisqSemaphore semaphore;
};

TEST_F(BrisqSemaphoreTest, StartsAtZeroAndCountsReleases) {
  ASSERT_TRUE(semaphore.Create(name.c_str()));
  EXPECT_EQ(0, DrainCount(semaphore.Handle()));
  for (int i = 0; i < 3; ++i) semaphore.Release();
  EXPECT_EQ(3, DrainCount(semaphore.Handle()));
}

TEST_F(BrisqSemaphoreTest, MaximumCountIs0x7FFFFFFF) {
  ASSERT_TRUE(semaphore.Create(nullptr));
  EXPECT_TRUE(::ReleaseSemaphore(semaphore.Handle(), 0x7FFFFFFF, nullptr));
  EXPECT_FALSE(::ReleaseSemaphore(semaphore.Handle(), 1, nullptr));
}

TEST_F(BrisqSemaphoreTest, CreateUnderExistingNameKeepsItsCount) {
  BrisqSemaphore second;
  ASSERT_TRUE(semaphore.Create(name.c_str()));
  semaphore.Release();
  semaphore.Release();
  ASSERT_TRUE(second.Create(name.c_str()));
  EXPECT_EQ(2, DrainCount(second.Handle()));
}

TEST_F(BrisqSemaphoreTest, OpenMissingNameLeavesEmptyWithoutLogging) {
  LogCapture capture{LogClock::kDriven};
  ASSERT_TRUE(semaphore.Create(name.c_str()));
  EXPECT_FALSE(semaphore.Open(UniqueName(L"SemMissing").c_str()));
  EXPECT_FALSE(semaphore.IsValid());
  EXPECT_FALSE(SemaphoreExists(name));
  EXPECT_TRUE(capture.Lines().empty());
}

TEST_F(BrisqSemaphoreTest, DestructionClosesTheHandle) {
  {
    BrisqSemaphore scoped;
    ASSERT_TRUE(scoped.Create(name.c_str()));
    ASSERT_TRUE(SemaphoreExists(name));
  }
  EXPECT_FALSE(SemaphoreExists(name));
}

TEST_F(BrisqSemaphoreTest, EmptySemaphoreWaitFailsAndReleaseIsHarmless) {
  semaphore.Release();
  EXPECT_FALSE(semaphore.Wait());
}

TEST_F(BrisqSemaphoreTest, ReleasedByAnotherProcess) {
  ASSERT_TRUE(semaphore.Create(name.c_str()));
  EXPECT_EQ(0, RunChild(L"semaphore-release-2", name));
  EXPECT_EQ(2, DrainCount(semaphore.Handle()));
}

TEST_F(BrisqSemaphoreTest, RuntimeClassIsBrisqObject) {
  const BrisqObject& object = semaphore;
  EXPECT_STREQ("BrisqObject", object.GetRuntimeClass()->class_name);
}

}  // namespace
}  // namespace BrisqFramework
