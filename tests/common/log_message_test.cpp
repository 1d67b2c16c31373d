#include "BrisqFramework/Common/LogMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BrisqFramework/Common/StringPrintf.h"
#include "tests/support/log_capture.h"

namespace {
// While set, every operator new of this thread throws std::bad_alloc: the
// record's own formatting then runs out of memory.
thread_local bool t_out_of_memory = false;
}  // namespace

// The replacements pair malloc with free; GCC cannot see that they replace
// the global operators and warns at every inlined call.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  if (t_out_of_memory) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace BrisqFramework {
namespace {

using test_support::LogCapture;
using test_support::LogClock;

// Streamed last into a record: memory runs out from there on, so the
// record's end (where the line is formatted) fails.
struct OutOfMemoryFromHere {};
std::ostream& operator<<(std::ostream& out, OutOfMemoryFromHere) {
  t_out_of_memory = true;
  return out;
}

int g_throwing_sink_calls = 0;
int32_t ThrowingSink(int32_t, const char*, int32_t, const char*) {
  ++g_throwing_sink_calls;
  throw std::runtime_error("sink failed");
}

// Bytes handed to the log-file writer.
std::mutex g_file_mutex;
std::string g_file_bytes;
void CaptureFile(const char* data, size_t size) {
  std::lock_guard<std::mutex> guard(g_file_mutex);
  g_file_bytes.append(data, size);
}

// Every case runs under a driven capture whose sink takes the lines (unless
// told otherwise), with the file writer recording what reaches the file.
class LogMessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_file_bytes.clear();
    SetLogFileWriter(&CaptureFile);
  }
  void TearDown() override { SetLogFileWriter(nullptr); }

  static std::string FileBytes() {
    std::lock_guard<std::mutex> guard(g_file_mutex);
    return g_file_bytes;
  }
  // An INFO line as the driven clock writes it.
  static std::string InfoLine(const std::string& message) {
    return std::string(LogCapture::kInfoPrefix) + ": " + message + "\n";
  }
  // Exactly one line was written, and it is this one.
  void ExpectOnlyLine(const std::string& text, int32_t severity, const std::string& file = "<null>",
                      int32_t line = 0) {
    const auto lines = capture.Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(text, lines[0].text);
    EXPECT_EQ(severity, lines[0].severity);
    EXPECT_EQ(file, lines[0].file);
    EXPECT_EQ(line, lines[0].line);
  }

  LogCapture capture{LogClock::kDriven};
};

TEST_F(LogMessageTest, LineWithoutSourcePosition) {
  BRISQ_LOG(INFO) << "[PipeServer] SetCallback";
  ExpectOnlyLine("[11:22:2024-01-02/03:04:05.006:INFO] : [PipeServer] SetCallback\n", 0);
}

// The line names the file without the folders it was built in.
TEST_F(LogMessageTest, LineWithSourcePosition) {
  for (const char* file : {"PipeChannel.cpp", "/home/builder/src/Quenlo/PipeChannel.cpp",
                           "C:\\src\\Quenlo/PipeChannel.cpp"}) {
    capture.Clear();
    capture.Silence();
    { LogMessage(file, 77, kLogError).stream() << "Failed to Send(" << 5 << ")"; }
    SCOPED_TRACE(file);
    ExpectOnlyLine(
        "[11:22:2024-01-02/03:04:05.006:ERROR] PipeChannel.cpp(77)] : Failed to Send(5)\n", 2,
        "PipeChannel.cpp", 77);
  }
}

TEST_F(LogMessageTest, SeverityAboveFatalIsUnknown) {
  { LogMessage(7).stream() << "odd"; }
  ExpectOnlyLine("[11:22:2024-01-02/03:04:05.006:UNKNOWN] : odd\n", 7);
}

// A site that breaks its own stream (a null char pointer sets badbit) still
// gets a finished line with its line feed.
TEST_F(LogMessageTest, BrokenStreamStillEndsTheLine) {
  const char* missing = nullptr;
  BRISQ_LOG(INFO) << "before " << missing;
  ASSERT_EQ(1u, capture.Size());
  EXPECT_EQ('\n', capture.Lines()[0].text.back());
}

TEST_F(LogMessageTest, LogAtNamesThisFileAndLine) {
  const int expected_line = __LINE__ + 1;
  BRISQ_LOG_AT(ERROR) << "Failed to Create";
  const std::string at = "log_message_test.cpp(" + std::to_string(expected_line) + ")] ";
  ExpectOnlyLine("[11:22:2024-01-02/03:04:05.006:ERROR] " + at + ": Failed to Create\n", 2,
                 "log_message_test.cpp", expected_line);
}

TEST_F(LogMessageTest, MacroIsOneStatementInUnbracedBranches) {
  for (int i = 0; i < 2; ++i) {
    if (i == 0)
      BRISQ_LOG(INFO) << "then";
    else
      BRISQ_LOG(WARNING) << "else";
  }
  ASSERT_EQ(2u, capture.Size());
  EXPECT_EQ(1, capture.Lines()[1].severity);
}

TEST_F(LogMessageTest, StringPrintfFormatsLongTexts) {
  EXPECT_EQ("PostTask [ff] [10]", StringPrintf("PostTask [%x] [%x]", 255u, 16u));
  const std::string big(1000, 'z');
  EXPECT_EQ(big + "!", StringPrintf("%s!", big.c_str()));
}

TEST_F(LogMessageTest, DisabledRecordFormatsAndDeliversNothing) {
  capture.SetSinkResult(0);
  {
    LogMessage record(-1);
    record.stream() << "ignored " << 42;
    EXPECT_TRUE(record.stream().fail());
  }
  EXPECT_EQ(0u, capture.Size());
  EXPECT_EQ("", FileBytes());
}

TEST_F(LogMessageTest, HandledBySinkNeverReachesFile) {
  BRISQ_LOG(INFO) << "taken";
  EXPECT_EQ(1u, capture.Size());
  EXPECT_EQ("", FileBytes());
}

TEST_F(LogMessageTest, DeclinedBySinkGoesToFileByteForByte) {
  capture.SetSinkResult(0);
  BRISQ_LOG(INFO) << "first";
  BRISQ_LOG(INFO) << "second";
  EXPECT_EQ(2u, capture.Size());
  EXPECT_EQ(InfoLine("first") + InfoLine("second"), FileBytes());
}

TEST_F(LogMessageTest, NoSinkGoesToFile) {
  SetLogOutputHook(nullptr);
  BRISQ_LOG(INFO) << "alone";
  EXPECT_EQ(InfoLine("alone"), FileBytes());
}

TEST_F(LogMessageTest, FiveRepeatsWithinHalfASecondDeliverThree) {
  for (int i = 0; i < 5; ++i) {
    BRISQ_LOG_AT(ERROR) << "Failed to Connect";
    capture.Advance(100000000);
  }
  EXPECT_EQ(3u, capture.Size());
  capture.Silence();
  BRISQ_LOG_AT(ERROR) << "Failed to Connect";
  EXPECT_EQ(4u, capture.Size());
}

// Only the message text is compared: severity and position do not make a
// record different.
TEST_F(LogMessageTest, SameTextOtherSeverityOrPositionIsARepeat) {
  { LogMessage(kLogInfo).stream() << "same"; }
  { LogMessage(kLogError).stream() << "same"; }
  { LogMessage("a.cpp", 1, kLogWarning).stream() << "same"; }
  { LogMessage("b.cpp", 2, kLogFatal).stream() << "same"; }
  EXPECT_EQ(3u, capture.Size());
}

TEST_F(LogMessageTest, RefusedLinesReachNeitherSinkNorFile) {
  capture.SetSinkResult(0);
  for (int i = 0; i < 4; ++i) BRISQ_LOG(INFO) << "again";
  EXPECT_EQ(3u, capture.Size());
  EXPECT_EQ(InfoLine("again") + InfoLine("again") + InfoLine("again"), FileBytes());
}

TEST_F(LogMessageTest, ThrowingSinkLosesTheLineAndLoggingGoesOn) {
  SetLogOutputHook(&ThrowingSink);
  g_throwing_sink_calls = 0;
  BRISQ_LOG_AT(ERROR) << "first";
  BRISQ_LOG(INFO) << "second";
  EXPECT_EQ(g_throwing_sink_calls, 2);
  EXPECT_EQ("", FileBytes());
}

TEST_F(LogMessageTest, FormattingOutOfMemoryLosesTheLineAndLoggingGoesOn) {
  BRISQ_LOG_AT(ERROR) << "lost " << std::string(200, 'x') << OutOfMemoryFromHere();
  t_out_of_memory = false;
  BRISQ_LOG(INFO) << "after";
  ExpectOnlyLine(InfoLine("after"), 0);
}

TEST_F(LogMessageTest, ConcurrentRecordsAreEachDeliveredWhole) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i) BRISQ_LOG(INFO) << "thread " << t << " record " << i;
    });
  }
  for (auto& th : threads) th.join();
  auto lines = capture.Lines();
  ASSERT_EQ(static_cast<size_t>(kThreads * kPerThread), lines.size());
  for (const auto& l : lines) {
    EXPECT_EQ(0u, l.text.rfind(LogCapture::kInfoPrefix, 0));
    EXPECT_EQ(1u, std::count(l.text.begin(), l.text.end(), '\n'));
  }
}

}  // namespace
}  // namespace BrisqFramework
