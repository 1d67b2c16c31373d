#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "Quenlo/message/IPCMessage.h"
#include "Quenlo/message/PickleIterator.h"

namespace {

using Ravoque::IPCMessage;
using Ravoque::PickleIterator;

// Received bytes: a 16-byte header followed by `payload` as given (no padding
// added), so tests control every byte a peer could send.
std::string Frame(const std::string& payload) {
  std::string f(16, '\0');
  Ravoque::StoreLE32(&f[0], static_cast<uint32_t>(payload.size()));
  Ravoque::StoreLE32(&f[4], static_cast<uint32_t>(-2));
  return f + payload;
}

std::string Int(int32_t v) {
  std::string s(4, '\0');
  Ravoque::StoreLE32(&s[0], static_cast<uint32_t>(v));
  return s;
}

// --- Round trip of what the writer produces ---

TEST(PickleIteratorRoundTrip, ReadsBackEveryFieldKind) {
  IPCMessage m(5);
  ASSERT_TRUE(m.WriteInt(-7));
  ASSERT_TRUE(m.WriteData("abc", 3));
  ASSERT_TRUE(m.WriteBytes("xy", 2));
  ASSERT_TRUE(m.WriteData(nullptr, 0));
  ASSERT_TRUE(m.WriteInt(42));

  IPCMessage view(m.Data(), m.Size());
  PickleIterator it(view);
  int32_t i = 0;
  const char* data = nullptr;
  int length = -1;
  ASSERT_TRUE(it.ReadInt(&i));
  EXPECT_EQ(i, -7);
  ASSERT_TRUE(it.ReadData(&data, &length));
  EXPECT_EQ(std::string(data, length), "abc");
  ASSERT_TRUE(it.ReadBytes(&data, 2));
  EXPECT_EQ(std::string(data, 2), "xy");
  ASSERT_TRUE(it.ReadData(&data, &length));
  EXPECT_EQ(length, 0);
  ASSERT_TRUE(it.ReadInt(&i));
  EXPECT_EQ(i, 42);
  EXPECT_EQ(it.RemainingBytes(), 0u);
  EXPECT_FALSE(it.ReadInt(&i));
}

// --- Lengths from the peer: negative, too large, overflowing ---

TEST(PickleIteratorBadLengths, BlobLongerThanWhatRemainsFailsClosed) {
  const std::string bytes = Frame(Int(13) + "12345678" + Int(1));
  IPCMessage view(bytes.data(), bytes.size());
  PickleIterator it(view);
  const char* data = reinterpret_cast<const char*>(1);
  int length = 99;
  EXPECT_FALSE(it.ReadData(&data, &length));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0);
  int32_t i = 0;
  EXPECT_FALSE(it.ReadInt(&i)) << "a failed read must exhaust the cursor";
  EXPECT_EQ(it.RemainingBytes(), 0u);
}

TEST(PickleIteratorBadLengths, NegativeBlobLengthFails) {
  for (int32_t bad : {-1, -4, std::numeric_limits<int32_t>::min()}) {
    const std::string bytes = Frame(Int(bad) + "abcdabcd");
    IPCMessage view(bytes.data(), bytes.size());
    PickleIterator it(view);
    const char* data = nullptr;
    int length = 5;
    EXPECT_FALSE(it.ReadData(&data, &length)) << bad;
    EXPECT_EQ(length, 0);
    EXPECT_EQ(it.RemainingBytes(), 0u);
  }
}

TEST(PickleIteratorBadLengths, LengthNearIntMaxDoesNotWrapThePadding) {
  const std::string bytes = Frame(Int(std::numeric_limits<int32_t>::max()) + "abcd");
  IPCMessage view(bytes.data(), bytes.size());
  PickleIterator it(view);
  const char* data = nullptr;
  int length = 0;
  EXPECT_FALSE(it.ReadData(&data, &length));
  EXPECT_EQ(it.RemainingBytes(), 0u);
}

TEST(PickleIteratorBadLengths, NegativeByteCountFailsEvenWithBytesLeft) {
  const std::string bytes = Frame("abcdefgh");
  IPCMessage view(bytes.data(), bytes.size());
  PickleIterator it(view);
  const char* data = nullptr;
  EXPECT_FALSE(it.ReadBytes(&data, -1));
  EXPECT_EQ(data, nullptr);
  EXPECT_FALSE(it.ReadBytes(&data, 1)) << "nothing is left after a failed read";
}

TEST(PickleIteratorBadLengths, ShortIntFailsAndLeavesTheOutputAlone) {
  const std::string bytes = Frame(Int(1) + std::string("\x01\x02", 2));  // payloadSize 6
  IPCMessage view(bytes.data(), bytes.size());
  PickleIterator it(view);
  int32_t i = 0;
  ASSERT_TRUE(it.ReadInt(&i));
  i = 77;
  EXPECT_FALSE(it.ReadInt(&i));
  EXPECT_EQ(i, 77);
  EXPECT_EQ(it.RemainingBytes(), 0u);
}

// --- The last field may come without its padding ---

TEST(PickleIteratorPadding, LastBlobWithoutPaddingStillReads) {
  const std::string bytes = Frame(Int(5) + "hello");  // payloadSize 9
  IPCMessage view(bytes.data(), bytes.size());
  ASSERT_EQ(view.PayloadSize(), 9u);
  PickleIterator it(view);
  const char* data = nullptr;
  int length = 0;
  ASSERT_TRUE(it.ReadData(&data, &length));
  EXPECT_EQ(std::string(data, length), "hello");
  EXPECT_EQ(it.RemainingBytes(), 0u) << "the cursor stops at the end, not past it";
  EXPECT_FALSE(it.ReadBytes(&data, 1));
}

// --- Invalid views read as empty ---

TEST(PickleIteratorInvalidView, EveryReadOfSubstanceFails) {
  const std::string bytes("\x10\x00\x00\x00", 4);  // announces more than exists
  IPCMessage view(bytes.data(), bytes.size());
  PickleIterator it(view);
  int32_t i = 0;
  const char* data = nullptr;
  int length = 0;
  EXPECT_FALSE(it.ReadInt(&i));
  EXPECT_FALSE(it.ReadData(&data, &length));
  EXPECT_FALSE(it.ReadBytes(&data, 1));
  EXPECT_EQ(it.RemainingBytes(), 0u);
}

}  // namespace
