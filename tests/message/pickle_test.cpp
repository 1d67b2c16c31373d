#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "Quenlo/message/Pickle.h"

namespace {

using Ravoque::Pickle;

std::string PayloadOf(const Pickle& p) { return std::string(p.Payload(), p.PayloadSize()); }

bool WriteFill(Pickle& p, std::size_t count, char byte) {
  const std::string bytes(count, byte);
  return p.WriteBytes(bytes.data(), count);
}

// --- Capacity growth: doubling, the page rule, and data kept across moves ---

TEST(PickleCapacity, FreshPickleHoldsSixtyFourPayloadBytes) {
  Pickle p(16);
  EXPECT_EQ(p.Capacity(), 64u);
  EXPECT_EQ(p.Size(), 16u);
  EXPECT_EQ(p.PayloadSize(), 0u);
  ASSERT_TRUE(WriteFill(p, 64, 'a'));
  EXPECT_EQ(p.Capacity(), 64u) << "an exact fit must not grow";
}

TEST(PickleCapacity, SixtyFiveBytesDoubleTheCapacity) {
  Pickle p(16);
  ASSERT_TRUE(WriteFill(p, 65, 'a'));
  EXPECT_EQ(p.Capacity(), 128u);
  EXPECT_EQ(p.PayloadSize(), 68u);
}

TEST(PickleCapacity, PastOnePageStaysOneUnitShortOfAPageMultiple) {
  Pickle p(16);
  std::vector<std::size_t> seen;
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(WriteFill(p, 64, 'x'));
    if (seen.empty() || seen.back() != p.Capacity()) seen.push_back(p.Capacity());
  }
  const std::vector<std::size_t> expected = {64,   128,  256,  512,   1024,
                                             2048, 4096, 8128, 16320, 32704};
  EXPECT_EQ(seen, expected);
}

TEST(PickleCapacity, LargeWriteGrowsToItsOwnSizeRoundedToUnits) {
  Pickle p(16);
  ASSERT_TRUE(WriteFill(p, 10000, 'b'));
  EXPECT_EQ(p.Capacity(), 10048u);
  EXPECT_EQ(PayloadOf(p), std::string(10000, 'b'));
}

TEST(PickleCapacity, EarlierFieldsSurviveReallocation) {
  Pickle p(8);
  ASSERT_TRUE(p.WriteInt(0x01020304));
  ASSERT_TRUE(WriteFill(p, 5000, 'z'));
  ASSERT_GT(p.Capacity(), 64u);
  EXPECT_EQ(Ravoque::LoadLE32(p.Payload()), 0x01020304u);
  EXPECT_EQ(Ravoque::LoadLE32(p.Data()), 5004u) << "payloadSize lives in the header";
}

// --- Field encodings and zeroed padding ---

TEST(PickleEncoding, DataOfFiveBytesTakesTwelveWithZeroPadding) {
  // Fresh allocations hold garbage (0xBE under ASan), so unzeroed padding shows.
  Pickle q(16);
  ASSERT_TRUE(q.WriteData("hello", 5));
  EXPECT_EQ(q.PayloadSize(), 12u);
  EXPECT_EQ(PayloadOf(q), std::string("\x05\x00\x00\x00hello\x00\x00\x00", 12));
}

TEST(PickleEncoding, PaddingIsZeroedAfterGrowth) {
  Pickle p(16);
  ASSERT_TRUE(WriteFill(p, 63, '\xFF'));    // 63 + 1 pad
  ASSERT_TRUE(WriteFill(p, 4097, '\xFF'));  // grows, 3 pad bytes
  EXPECT_EQ(PayloadOf(p),
            std::string(63, '\xFF') + '\0' + std::string(4097, '\xFF') + std::string(3, '\0'));
}

TEST(PickleEncoding, EmptyDataIsOnlyTheLength) {
  Pickle p(16);
  ASSERT_TRUE(p.WriteData(nullptr, 0));
  EXPECT_EQ(PayloadOf(p), std::string(4, '\0'));
}

TEST(PickleEncoding, IntIsLittleEndian) {
  Pickle p(4);
  ASSERT_TRUE(p.WriteInt(-2));
  ASSERT_TRUE(p.WriteInt(0x11223344));
  EXPECT_EQ(PayloadOf(p), std::string("\xFE\xFF\xFF\xFF\x44\x33\x22\x11", 8));
}

// --- Refused writes leave the pickle unchanged ---

TEST(PickleRefusedWrites, LengthsBeyondTheFormatAreRefusedUnwritten) {
  Pickle p(16);
  ASSERT_TRUE(p.WriteInt(7));
  const char dummy = 0;
  // The pointer is never read: the sizes are refused before any copy.
  EXPECT_FALSE(
      p.WriteData(&dummy, static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) + 1));
  EXPECT_FALSE(p.WriteBytes(&dummy, Pickle::kMaxPayloadSize + 1));
  EXPECT_FALSE(p.WriteBytes(&dummy, std::numeric_limits<std::size_t>::max()));
  EXPECT_FALSE(p.WriteData(&dummy, std::numeric_limits<std::size_t>::max()));
  EXPECT_EQ(p.PayloadSize(), 4u);
  EXPECT_EQ(p.Capacity(), 64u);
}

TEST(PickleRefusedWrites, NullDataWithALengthIsRefused) {
  Pickle p(16);
  EXPECT_FALSE(p.WriteBytes(nullptr, 3));
  EXPECT_FALSE(p.WriteData(nullptr, 3));
  EXPECT_TRUE(p.WriteBytes(nullptr, 0));
  EXPECT_EQ(p.PayloadSize(), 0u);
}

TEST(PickleRefusedWrites, ViewsAreNeverWritten) {
  Pickle source(4);
  ASSERT_TRUE(source.WriteInt(1));
  std::string bytes(source.Data(), source.Size());
  const std::string before = bytes;
  Pickle view(bytes.data(), bytes.size());
  ASSERT_TRUE(view.IsReadOnly());
  EXPECT_FALSE(view.WriteInt(2));
  EXPECT_FALSE(view.WriteData("x", 1));
  EXPECT_EQ(bytes, before);
}

// --- Read-only views over received bytes: header size from the length ---

TEST(PickleView, HeaderSizeIsLengthMinusPayloadSize) {
  Pickle source(12);
  ASSERT_TRUE(source.WriteInt(5));
  Pickle view(source.Data(), source.Size());
  EXPECT_EQ(view.HeaderSize(), 12u);
  EXPECT_EQ(view.PayloadSize(), 4u);
  EXPECT_EQ(view.Payload(), source.Data() + 12) << "a view must not copy";
  EXPECT_EQ(view.Capacity(), Pickle::kCapacityReadOnly);
}

TEST(PickleView, InconsistentBytesGiveAnInvalidView) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"shorter than the size field", std::string("\x00\x00\x00", 3)},
      {"payload as long as everything", std::string("\x08\x00\x00\x00\x00\x00\x00\x00", 8)},
      {"payload longer than everything", std::string("\xFF\xFF\xFF\xFF\x00\x00\x00\x00", 8)},
      {"header not a multiple of 4", std::string("\x02\x00\x00\x00\x00\x00\x00", 7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pickle view(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(view.Data(), nullptr);
    EXPECT_EQ(view.Payload(), nullptr);
    EXPECT_EQ(view.PayloadSize(), 0u);
    EXPECT_EQ(view.Size(), 0u);
  }
  Pickle none(nullptr, 16);
  EXPECT_EQ(none.Data(), nullptr);
}

}  // namespace
