#include "BrisqFramework/Common/LogMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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

std::atomic<int> g_throwing_sink_calls{0};
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
std::string FileBytes() {
  std::lock_guard<std::mutex> guard(g_file_mutex);
  return g_file_bytes;
}

class LogMessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> guard(g_file_mutex);
    g_file_bytes.clear();
  }
  void TearDown() override { SetLogFileWriter(nullptr); }
};

// --- Line layout ----------------------------------------------------------------

TEST_F(LogMessageTest, LineWithoutSourcePosition) {
  LogCapture capture{LogClock::kDriven};
  BRISQ_LOG(INFO) << "[PipeServer] SetCallback";
  auto lines = capture.Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("[11:22:2024-01-02/03:04:05.006:INFO] : [PipeServer] SetCallback\n", lines[0].text);
  EXPECT_EQ(0, lines[0].severity);
  EXPECT_EQ("<null>", lines[0].file);
  EXPECT_EQ(0, lines[0].line);
}

// The line names the file without the folders it was built in.
TEST_F(LogMessageTest, LineWithSourcePosition) {
  for (const char* file : {"PipeChannel.cpp", "/home/builder/src/Quenlo/PipeChannel.cpp",
                           "C:\\src\\Quenlo/PipeChannel.cpp"}) {
    LogCapture capture{LogClock::kDriven};
    { LogMessage(file, 77, kLogError).stream() << "Failed to Send(" << 5 << ")"; }
    auto lines = capture.Lines();
    ASSERT_EQ(1u, lines.size()) << file;
    EXPECT_EQ("[11:22:2024-01-02/03:04:05.006:ERROR] PipeChannel.cpp(77)] : Failed to Send(5)\n",
              lines[0].text);
    EXPECT_EQ(2, lines[0].severity);
    EXPECT_EQ("PipeChannel.cpp", lines[0].file);
    EXPECT_EQ(77, lines[0].line);
  }
}

TEST_F(LogMessageTest, SeverityAboveFatalIsUnknown) {
  LogCapture capture{LogClock::kDriven};
  { LogMessage(7).stream() << "odd"; }
  ASSERT_EQ(1u, capture.Lines().size());
  EXPECT_EQ("[11:22:2024-01-02/03:04:05.006:UNKNOWN] : odd\n", capture.Lines()[0].text);
  EXPECT_EQ(7, capture.Lines()[0].severity);
}

// A site that breaks its own stream (a null char pointer sets badbit) still
// gets a finished line with its line feed.
TEST_F(LogMessageTest, BrokenStreamStillEndsTheLine) {
  LogCapture capture{LogClock::kDriven};
  const char* missing = nullptr;
  BRISQ_LOG(INFO) << "before " << missing;
  ASSERT_EQ(1u, capture.Lines().size());
  EXPECT_EQ('\n', capture.Lines()[0].text.back());
}

// --- Macros ------------------------------------------------------------------------

TEST_F(LogMessageTest, LogAtNamesThisFileAndLine) {
  LogCapture capture{LogClock::kDriven};
  const int expected_line = __LINE__ + 1;
  BRISQ_LOG_AT(ERROR) << "Failed to Create";
  auto lines = capture.Lines();
  ASSERT_EQ(1u, lines.size());
  // The file's name only, not the folders it was built in.
  EXPECT_EQ(std::string("log_message_test.cpp"), lines[0].file);
  EXPECT_EQ(expected_line, lines[0].line);
  EXPECT_NE(std::string::npos,
            lines[0].text.find("] log_message_test.cpp(" + std::to_string(expected_line) +
                               ")] : Failed to Create\n"));
}

TEST_F(LogMessageTest, MacroIsOneStatementInUnbracedBranches) {
  LogCapture capture{LogClock::kDriven};
  for (int i = 0; i < 2; ++i) {
    if (i == 0)
      BRISQ_LOG(INFO) << "then";
    else
      BRISQ_LOG(WARNING) << "else";
  }
  EXPECT_EQ(2u, capture.Lines().size());
  EXPECT_EQ(1, capture.Lines()[1].severity);
}

TEST_F(LogMessageTest, StringPrintfFormatsLongTexts) {
  EXPECT_EQ("PostTask [ff] [10]", StringPrintf("PostTask [%x] [%x]", 255u, 16u));
  const std::string big(1000, 'z');
  EXPECT_EQ(big + "!", StringPrintf("%s!", big.c_str()));
}

// --- Disabled records --------------------------------------------------------------

TEST_F(LogMessageTest, DisabledRecordFormatsAndDeliversNothing) {
  LogCapture capture{LogClock::kDriven};
  SetLogFileWriter(&CaptureFile);
  {
    LogMessage record(-1);
    record.stream() << "ignored " << 42;
    EXPECT_TRUE(record.stream().fail());
  }
  EXPECT_TRUE(capture.Lines().empty());
  EXPECT_EQ("", FileBytes());
}

// --- Delivery: sink, then file ---------------------------------------------------

TEST_F(LogMessageTest, HandledBySinkNeverReachesFile) {
  LogCapture capture{LogClock::kDriven, 1};
  SetLogFileWriter(&CaptureFile);
  BRISQ_LOG(INFO) << "taken";
  EXPECT_EQ(1u, capture.Lines().size());
  EXPECT_EQ("", FileBytes());
}

TEST_F(LogMessageTest, DeclinedBySinkGoesToFileByteForByte) {
  LogCapture capture{LogClock::kDriven, 0};
  SetLogFileWriter(&CaptureFile);
  BRISQ_LOG(INFO) << "first";
  BRISQ_LOG(INFO) << "second";
  EXPECT_EQ(2u, capture.Lines().size());
  EXPECT_EQ(
      std::string(LogCapture::kInfoPrefix) + ": first\n" + LogCapture::kInfoPrefix + ": second\n",
      FileBytes());
}

TEST_F(LogMessageTest, NoSinkGoesToFile) {
  LogCapture capture{LogClock::kDriven};
  SetLogOutputHook(nullptr);
  SetLogFileWriter(&CaptureFile);
  BRISQ_LOG(INFO) << "alone";
  EXPECT_EQ(std::string(LogCapture::kInfoPrefix) + ": alone\n", FileBytes());
}

// --- Flood filter on the record path ------------------------------------------------

TEST_F(LogMessageTest, FiveRepeatsWithinHalfASecondDeliverThree) {
  LogCapture capture{LogClock::kDriven};
  for (int i = 0; i < 5; ++i) {
    BRISQ_LOG_AT(ERROR) << "Failed to Connect";
    capture.Advance(100000000);
  }
  EXPECT_EQ(3u, capture.Lines().size());
  capture.Silence();
  BRISQ_LOG_AT(ERROR) << "Failed to Connect";
  EXPECT_EQ(4u, capture.Lines().size());
}

// Only the message text is compared: severity and position do not make a
// record different.
TEST_F(LogMessageTest, SameTextOtherSeverityOrPositionIsARepeat) {
  LogCapture capture{LogClock::kDriven};
  { LogMessage(kLogInfo).stream() << "same"; }
  { LogMessage(kLogError).stream() << "same"; }
  { LogMessage("a.cpp", 1, kLogWarning).stream() << "same"; }
  { LogMessage("b.cpp", 2, kLogFatal).stream() << "same"; }
  EXPECT_EQ(3u, capture.Lines().size());
}

TEST_F(LogMessageTest, RefusedLinesReachNeitherSinkNorFile) {
  LogCapture capture{LogClock::kDriven, 0};
  SetLogFileWriter(&CaptureFile);
  for (int i = 0; i < 4; ++i) BRISQ_LOG(INFO) << "again";
  EXPECT_EQ(3u, capture.Lines().size());
  const std::string line = std::string(LogCapture::kInfoPrefix) + ": again\n";
  EXPECT_EQ(line + line + line, FileBytes());
}

// --- Failures inside a record lose that line only ---------------------------------------

TEST_F(LogMessageTest, ThrowingSinkLosesTheLineAndLoggingGoesOn) {
  LogCapture capture{LogClock::kDriven};
  SetLogFileWriter(&CaptureFile);
  SetLogOutputHook(&ThrowingSink);
  g_throwing_sink_calls = 0;
  BRISQ_LOG_AT(ERROR) << "first";
  BRISQ_LOG(INFO) << "second";
  EXPECT_EQ(g_throwing_sink_calls, 2);
  EXPECT_EQ("", FileBytes());
}

TEST_F(LogMessageTest, FormattingOutOfMemoryLosesTheLineAndLoggingGoesOn) {
  LogCapture capture{LogClock::kDriven};
  BRISQ_LOG_AT(ERROR) << "lost " << std::string(200, 'x') << OutOfMemoryFromHere();
  t_out_of_memory = false;
  BRISQ_LOG(INFO) << "after";
  ASSERT_EQ(1u, capture.Lines().size());
  EXPECT_EQ(std::string(LogCapture::kInfoPrefix) + ": after\n", capture.Lines()[0].text);
}

// --- Threads ---------------------------------------------------------------------------

TEST_F(LogMessageTest, ConcurrentRecordsAreEachDeliveredWhole) {
  LogCapture capture{LogClock::kDriven};
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
