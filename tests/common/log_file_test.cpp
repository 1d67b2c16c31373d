#include "BrisqFramework/Common/LogFile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BrisqFramework/Common/BrisqFile.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"

namespace BrisqFramework {
namespace {

using test_support::BuildFolder;
using test_support::LogCapture;
using test_support::LogClock;

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

// `name` in the temp folder, made unique to this process.
std::wstring TempPath(const std::wstring& name) {
  wchar_t dir[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  return dir + name + L"_" + std::to_wstring(::GetCurrentProcessId());
}

// A file in the temp folder, deleted at the end of the test.
class TempLog {
 public:
  explicit TempLog(const wchar_t* tag)
      : path_(TempPath(std::wstring(L"brisq_log_") + tag) + L".log") {
    ::DeleteFileW(path_.c_str());
  }
  ~TempLog() { ::DeleteFileW(path_.c_str()); }
  const std::wstring& path() const { return path_; }

 private:
  const std::wstring path_;
};

std::string Line(const std::string& message) {
  return std::string(LogCapture::kInfoPrefix) + ": " + message + "\n";
}

// "YYYYMMDD hh-mm-ss-" of a local time.
std::wstring Stamp(const SYSTEMTIME& t) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%d%02d%02d %02d-%02d-%02d-", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
  return text;
}

TEST(LogFileDefaultPath, BesideExecutableNamedAfterLocalTimeAndProcess) {
  SYSTEMTIME before, after;
  ::GetLocalTime(&before);
  const std::wstring path = DefaultLogFilePath();
  ::GetLocalTime(&after);
  const std::wstring name = std::to_wstring(::GetCurrentProcessId()) + L".log";
  EXPECT_TRUE(path == BuildFolder() + Stamp(before) + name ||
              path == BuildFolder() + Stamp(after) + name)
      << path;
}

TEST(LogFileChoice, NullOrEmptyChoosesDefaultPath) {
  LogCapture capture{LogClock::kDriven, 0};
  ASSERT_TRUE(SetLogFile(L""));
  const std::wstring chosen = LogFilePath();
  EXPECT_EQ(0u, chosen.rfind(BuildFolder(), 0));
  BRISQ_LOG(INFO) << "into the default file";
  TempLog other(L"switch");
  ASSERT_TRUE(SetLogFile(other.path().c_str()));  // closes the default file
  EXPECT_EQ(Line("into the default file"), ReadAll(chosen));
  ::DeleteFileW(chosen.c_str());

  ASSERT_TRUE(SetLogFile(nullptr));
  EXPECT_EQ(0u, LogFilePath().rfind(BuildFolder(), 0));
  ASSERT_TRUE(SetLogFile(other.path().c_str()));
  ::DeleteFileW(LogFilePath().c_str());
}

// Every writing case starts with a fresh temp file chosen and a sink that
// declines the lines, so that they reach the file.
class LogFileWriting : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetLogFile(log.path().c_str())); }

  LogCapture capture{LogClock::kDriven, 0};
  TempLog log{L"writing"};
};

TEST_F(LogFileWriting, DeclinedLinesAreAppendedByteForByte) {
  EXPECT_EQ(log.path(), LogFilePath());
  BRISQ_LOG(INFO) << "one";
  BRISQ_LOG(INFO) << "two";
  EXPECT_EQ(Line("one") + Line("two"), ReadAll(log.path()));
}

TEST_F(LogFileWriting, HandledLinesNeverReachTheFile) {
  capture.SetSinkResult(1);
  BRISQ_LOG(ERROR) << "sink takes it";
  EXPECT_EQ("", ReadAll(log.path()));
}

TEST_F(LogFileWriting, AppendsAcrossTwoOpenings) {
  BRISQ_LOG(INFO) << "first run";
  ASSERT_TRUE(SetLogFile(log.path().c_str()));
  BRISQ_LOG(INFO) << "second run";
  EXPECT_EQ(Line("first run") + Line("second run"), ReadAll(log.path()));
}

TEST_F(LogFileWriting, OtherProgramsMayReadAndWriteMeanwhile) {
  BrisqFile other;
  ASSERT_TRUE(other.OpenForAppend(log.path()));
  ASSERT_TRUE(other.Write("x\n", 2));
  BRISQ_LOG(INFO) << "after";
  EXPECT_EQ("x\n" + Line("after"), ReadAll(log.path()));
}

// A file that cannot be opened loses lines; once it can be opened, the next
// line is written without choosing again.
TEST_F(LogFileWriting, RetriesOpeningOnTheNextLine) {
  const std::wstring dir = TempPath(L"brisq_logdir");
  const std::wstring path = dir + L"\\late.log";
  ::RemoveDirectoryW(dir.c_str());
  EXPECT_FALSE(SetLogFile(path.c_str()));
  BRISQ_LOG(INFO) << "lost";
  ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
  BRISQ_LOG(INFO) << "kept";
  EXPECT_EQ(Line("kept"), ReadAll(path));
  SetLogFile(log.path().c_str());  // closes late.log, so that it can go
  ::DeleteFileW(path.c_str());
  ::RemoveDirectoryW(dir.c_str());
}

TEST_F(LogFileWriting, ChoosingTheFileWhileOtherThreadsLogLosesAndTearsNoLine) {
  TempLog b(L"choice_b");
  TempLog after(L"choice_after");
  constexpr int kThreads = 3;
  constexpr int kPerThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i) BRISQ_LOG(INFO) << "t" << t << " " << i;
    });
  }
  for (int i = 0; i < 40; ++i) EXPECT_TRUE(SetLogFile((i % 2 ? log : b).path().c_str()));
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(SetLogFile(after.path().c_str()));  // closes log or b

  std::istringstream lines(ReadAll(log.path()) + ReadAll(b.path()));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_EQ(0u, line.rfind(std::string(LogCapture::kInfoPrefix) + ": t", 0)) << line;
  }
  EXPECT_EQ(kThreads * kPerThread, count);
}

TEST_F(LogFileWriting, PathLongerThan259IsRefused) {
  const std::wstring path = L"C:\\" + std::wstring(257, L'a');  // 260 characters
  ASSERT_EQ(260u, path.size());
  EXPECT_FALSE(SetLogFile(path.c_str()));
  BRISQ_LOG(INFO) << "nowhere";  // lost, without harm
  EXPECT_EQ(path, LogFilePath());
}

}  // namespace
}  // namespace BrisqFramework
