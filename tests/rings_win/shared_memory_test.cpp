#include "BrisqFramework/IO/BrisqSharedMemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "BrisqFramework/Common/BrisqCore.h"
#include "tests/support/log_capture.h"
#include "tests/support/unique_name.h"

namespace BrisqFramework {
namespace {

using test_support::LogCapture;
using test_support::LogClock;
using Lines = std::vector<test_support::LogMessage>;  // (severity, message)

std::wstring UniqueName() { return L"Global\\" + test_support::UniqueName(L"mapping"); }

// --- Sharing bytes through a name --------------------------------------------

TEST(SharedMemoryMapping, ReaderSeesWhatTheWriterWrote) {
  const std::wstring name = UniqueName();
  BrisqSharedMemory writer;
  ASSERT_TRUE(writer.Create(name.c_str(), 4096));
  ASSERT_TRUE(writer.Map(4096));
  EXPECT_FALSE(writer.IsReadOnly());
  std::memcpy(writer.View() + 100, "ring", 4);

  BrisqSharedMemory reader;
  ASSERT_TRUE(reader.Open(name.c_str()));
  EXPECT_TRUE(reader.IsReadOnly());
  ASSERT_TRUE(reader.Map(4096));
  EXPECT_EQ(reader.MappedSize(), 4096u);
  EXPECT_EQ(std::memcmp(reader.View() + 100, "ring", 4), 0);
}

TEST(SharedMemoryMapping, CreatingAnExistingNameSharesItsMemory) {
  const std::wstring name = UniqueName();
  BrisqSharedMemory first;
  ASSERT_TRUE(first.Create(name.c_str(), 4096));
  ASSERT_TRUE(first.Map(4096));
  first.View()[7] = 0x42;
  BrisqSharedMemory second;
  ASSERT_TRUE(second.Create(name.c_str(), 4096));
  ASSERT_TRUE(second.Map(4096));
  EXPECT_EQ(second.View()[7], 0x42);
}

TEST(SharedMemoryMapping, CloseReleasesTheNameWithTheLastHandle) {
  const std::wstring name = UniqueName();
  {
    BrisqSharedMemory writer;
    ASSERT_TRUE(writer.Create(name.c_str(), 4096));
    ASSERT_TRUE(writer.Map(4096));
    writer.Close();
    EXPECT_FALSE(writer.HasMapping());
    EXPECT_EQ(writer.View(), nullptr);
    EXPECT_EQ(writer.MappedSize(), 0u);
  }
  LogCapture capture{LogClock::kDriven};
  BrisqSharedMemory reader;
  EXPECT_FALSE(reader.Open(name.c_str()));
}

// --- Failure texts --------------------------------------------------------------

TEST(SharedMemoryFailure, OpenOfAMissingNameLogsCodeNameAndText) {
  LogCapture capture{LogClock::kDriven};
  BrisqSharedMemory reader;
  const std::wstring name = UniqueName();
  EXPECT_FALSE(reader.Open(name.c_str()));
  EXPECT_FALSE(reader.HasMapping());
  EXPECT_EQ(capture.Messages(),
            (Lines{{2, "Failed to OpenFileMapping(2," + BrisqAnsiFromWide(name.c_str()) + "," +
                           BrisqErrorText(ERROR_FILE_NOT_FOUND) + ")"}}));
}

TEST(SharedMemoryFailure, CreateOfZeroBytesLogsCodeAndText) {
  LogCapture capture{LogClock::kDriven};
  BrisqSharedMemory writer;
  EXPECT_FALSE(writer.Create(UniqueName().c_str(), 0));  // the page file needs a size
  EXPECT_FALSE(writer.HasMapping());
  EXPECT_EQ(capture.Messages(),
            (Lines{{2, "Failed to CreateFileMapping(87," +
                           std::string(BrisqErrorText(ERROR_INVALID_PARAMETER)) + ")"}}));
}

TEST(SharedMemoryFailure, MapWithoutMappingFailsSilently) {
  LogCapture capture{LogClock::kDriven};
  BrisqSharedMemory memory;
  EXPECT_FALSE(memory.Map(4096));
  EXPECT_TRUE(capture.Lines().empty());
}

TEST(SharedMemoryFailure, MappingMoreThanTheMappingHoldsIsRefused) {
  const std::wstring name = UniqueName();
  BrisqSharedMemory writer;
  ASSERT_TRUE(writer.Create(name.c_str(), 4096));
  LogCapture capture{LogClock::kDriven};
  BrisqSharedMemory reader;
  ASSERT_TRUE(reader.Open(name.c_str()));
  EXPECT_FALSE(reader.Map(1 << 20));
  EXPECT_EQ(reader.View(), nullptr);
  EXPECT_EQ(reader.MappedSize(), 0u);
  const std::vector<std::string> lines = capture.MessageTexts();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Failed to MapViewOfFile(", 0), 0u) << lines[0];
}

}  // namespace
}  // namespace BrisqFramework
