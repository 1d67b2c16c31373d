#include "BrisqFramework/Common/LogFile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BrisqFramework/Common/BrisqFile.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "tests/support/log_capture.h"

namespace BrisqFramework {
namespace {

using test_support::LogCapture;
using test_support::LogClock;

std::wstring ExeDirectory() {
  wchar_t path[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::string Narrow(const std::wstring& w) {
  std::string out;
  for (wchar_t c : w) out.push_back(static_cast<char>(c));
  return out;
}

std::string ReadAll(const std::wstring& path) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string data;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) data.append(buffer, got);
  ::CloseHandle(h);
  return data;
}

// A file in the temp folder, deleted at the end of the test. The log file is
// closed first by choosing another one, so the delete can succeed.
class TempLog {
 public:
  explicit TempLog(const wchar_t* tag) {
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + L"brisq_log_" + tag + L"_" +
            std::to_wstring(::GetCurrentProcessId()) + L".log";
    ::DeleteFileW(path_.c_str());
  }
  ~TempLog() { ::DeleteFileW(path_.c_str()); }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

std::string Line(const std::string& message) {
  return std::string(LogCapture::kInfoPrefix) + ": " + message + "\n";
}

// --- Default path -------------------------------------------------------------

std::string Stamp(const SYSTEMTIME& t) {
  char text[32];
  std::snprintf(text, sizeof(text), "%d%02d%02d %02d-%02d-%02d-", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  return text;
}

TEST(LogFileDefaultPath, BesideExecutableNamedAfterLocalTimeAndProcess) {
  SYSTEMTIME before, after;
  ::GetLocalTime(&before);
  const std::wstring path = DefaultLogFilePath();
  ::GetLocalTime(&after);
  const std::wstring dir = ExeDirectory();
  ASSERT_EQ(0u, path.rfind(dir, 0)) << Narrow(path);
  const std::string name = Narrow(path.substr(dir.size()));
  const std::string pid = std::to_string(::GetCurrentProcessId());
  EXPECT_TRUE(name == Stamp(before) + pid + ".log" || name == Stamp(after) + pid + ".log") << name;
}

TEST(LogFileChoice, NullOrEmptyChoosesDefaultPath) {
  LogCapture capture{LogClock::kDriven, 0};
  ASSERT_TRUE(SetLogFile(L""));
  const std::wstring chosen = LogFilePath();
  EXPECT_EQ(0u, chosen.rfind(ExeDirectory(), 0));
  BRISQ_LOG(INFO) << "into the default file";
  TempLog other(L"switch");
  ASSERT_TRUE(SetLogFile(other.path().c_str()));  // closes the default file
  EXPECT_EQ(Line("into the default file"), ReadAll(chosen));
  ::DeleteFileW(chosen.c_str());

  ASSERT_TRUE(SetLogFile(nullptr));
  EXPECT_EQ(0u, LogFilePath().rfind(ExeDirectory(), 0));
  ASSERT_TRUE(SetLogFile(other.path().c_str()));
  ::DeleteFileW(LogFilePath().c_str());
}

// --- Writing ------------------------------------------------------------------

TEST(LogFileWriting, DeclinedLinesAreAppendedByteForByte) {
  LogCapture capture{LogClock::kDriven, 0};
  TempLog log(L"declined");
  ASSERT_TRUE(SetLogFile(log.path().c_str()));
  EXPECT_EQ(log.path(), LogFilePath());
  BRISQ_LOG(INFO) << "one";
  BRISQ_LOG(INFO) << "two";
  EXPECT_EQ(Line("one") + Line("two"), ReadAll(log.path()));
}

TEST(LogFileWriting, HandledLinesNeverReachTheFile) {
  LogCapture capture{LogClock::kDriven, 1};
  TempLog log(L"handled");
  ASSERT_TRUE(SetLogFile(log.path().c_str()));
  BRISQ_LOG(ERROR) << "sink takes it";
  EXPECT_EQ("", ReadAll(log.path()));
}

TEST(LogFileWriting, AppendsAcrossTwoOpenings) {
  LogCapture capture{LogClock::kDriven, 0};
  TempLog log(L"append");
  ASSERT_TRUE(SetLogFile(log.path().c_str()));
  BRISQ_LOG(INFO) << "first run";
  ASSERT_TRUE(SetLogFile(log.path().c_str()));
  BRISQ_LOG(INFO) << "second run";
  EXPECT_EQ(Line("first run") + Line("second run"), ReadAll(log.path()));
}

TEST(LogFileWriting, OtherProgramsMayReadAndWriteMeanwhile) {
  LogCapture capture{LogClock::kDriven, 0};
  TempLog log(L"shared");
  ASSERT_TRUE(SetLogFile(log.path().c_str()));
  BrisqFile other;
  ASSERT_TRUE(other.OpenForAppend(log.path()));
  ASSERT_TRUE(other.Write("x\n", 2));
  BRISQ_LOG(INFO) << "after";
  EXPECT_EQ("x\n" + Line("after"), ReadAll(log.path()));
}

// A file that cannot be opened loses lines; once it can be opened, the next
// line is written without choosing again.
TEST(LogFileWriting, RetriesOpeningOnTheNextLine) {
  LogCapture capture{LogClock::kDriven, 0};
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring dir =
      std::wstring(temp) + L"brisq_logdir_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring path = dir + L"\\late.log";
  ::RemoveDirectoryW(dir.c_str());
  EXPECT_FALSE(SetLogFile(path.c_str()));
  BRISQ_LOG(INFO) << "lost";
  ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
  BRISQ_LOG(INFO) << "kept";
  EXPECT_EQ(Line("kept"), ReadAll(path));
  TempLog park(L"park");
  SetLogFile(park.path().c_str());
  ::DeleteFileW(path.c_str());
  ::RemoveDirectoryW(dir.c_str());
}

TEST(LogFileWriting, ChoosingTheFileWhileOtherThreadsLogLosesAndTearsNoLine) {
  LogCapture capture(LogClock::kDriven, 0);
  TempLog a(L"choice_a");
  TempLog b(L"choice_b");
  TempLog after(L"choice_after");
  ASSERT_TRUE(SetLogFile(a.path().c_str()));
  constexpr int kThreads = 3;
  constexpr int kPerThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i) BRISQ_LOG(INFO) << "t" << t << " " << i;
    });
  }
  for (int i = 0; i < 40; ++i) EXPECT_TRUE(SetLogFile((i % 2 ? a : b).path().c_str()));
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(SetLogFile(after.path().c_str()));  // closes a or b

  std::istringstream lines(ReadAll(a.path()) + ReadAll(b.path()));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_EQ(0u, line.rfind(std::string(LogCapture::kInfoPrefix) + ": t", 0)) << line;
  }
  EXPECT_EQ(kThreads * kPerThread, count);
}

TEST(LogFileWriting, PathLongerThan259IsRefused) {
  LogCapture capture{LogClock::kDriven, 0};
  const std::wstring path = L"C:\\" + std::wstring(257, L'a');  // 260 characters
  ASSERT_EQ(260u, path.size());
  EXPECT_FALSE(SetLogFile(path.c_str()));
  BRISQ_LOG(INFO) << "nowhere";  // lost, without harm
  EXPECT_EQ(path, LogFilePath());
}

}  // namespace
}  // namespace BrisqFramework
