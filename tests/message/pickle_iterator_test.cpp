#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>

#include "Quenlo/message/IPCMessage.h"
#include "Quenlo/message/PickleIterator.h"

namespace {

using Ravoque::IPCMessage;
using Ravoque::PickleIterator;

std::string Int(int32_t v) {
  std::string s(4, '\0');
  Ravoque::StoreLE32(&s[0], static_cast<uint32_t>(v));
  return s;
}

// A 16-byte header followed by `payload` as given (no padding added), so tests
// control every byte a peer could send.
std::string Frame(const std::string& payload) {
  return Int(static_cast<int32_t>(payload.size())) + Int(-2) + std::string(8, '\0') + payload;
}

// Received bytes, the message viewed over them and a cursor over its payload.
struct Received {
  explicit Received(std::string received) : bytes(std::move(received)) {}
  std::string bytes;
  IPCMessage view{bytes.data(), bytes.size()};
  PickleIterator it{view};
};

// Nothing is left to read: every kind of read fails.
void ExpectExhausted(PickleIterator& it) {
  EXPECT_EQ(it.RemainingBytes(), 0u);
  int32_t i = 0;
  const char* data = nullptr;
  int length = 0;
  EXPECT_FALSE(it.ReadInt(&i));
  EXPECT_FALSE(it.ReadData(&data, &length));
  EXPECT_FALSE(it.ReadBytes(&data, 1));
}

// The next blob is refused with both outputs cleared, and a failed read must
// exhaust the cursor.
void ExpectBlobRefused(PickleIterator& it) {
  const char* data = reinterpret_cast<const char*>(1);
  int length = 99;
  EXPECT_FALSE(it.ReadData(&data, &length));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0);
  ExpectExhausted(it);
}

// The next blob's bytes, or "<failed>".
std::string Blob(PickleIterator& it) {
  const char* data = nullptr;
  int length = -1;
  return it.ReadData(&data, &length) ? std::string(data, length) : "<failed>";
}

// --- Round trip of what the writer produces ---

TEST(PickleIteratorRoundTrip, ReadsBackEveryFieldKind) {
  IPCMessage m(5);
  ASSERT_TRUE(m.WriteInt(-7) && m.WriteData("abc", 3) && m.WriteBytes("xy", 2) &&
              m.WriteData(nullptr, 0) && m.WriteInt(42));
  Received r(std::string(m.Data(), m.Size()));
  int32_t i = 0;
  ASSERT_TRUE(r.it.ReadInt(&i));
  EXPECT_EQ(i, -7);
  EXPECT_EQ(Blob(r.it), "abc");
  const char* data = nullptr;
  ASSERT_TRUE(r.it.ReadBytes(&data, 2));
  EXPECT_EQ(std::string(data, 2), "xy");
  EXPECT_EQ(Blob(r.it), "");
  ASSERT_TRUE(r.it.ReadInt(&i));
  EXPECT_EQ(i, 42);
  ExpectExhausted(r.it);
}

// --- Lengths from the peer: negative, too large, overflowing ---

TEST(PickleIteratorBadLengths, BlobLongerThanWhatRemainsFailsClosed) {
  Received r(Frame(Int(13) + "12345678" + Int(1)));
  ExpectBlobRefused(r.it);
}

TEST(PickleIteratorBadLengths, NegativeBlobLengthFails) {
  for (int32_t bad : {-1, -4, std::numeric_limits<int32_t>::min()}) {
    SCOPED_TRACE(bad);
    Received r(Frame(Int(bad) + "abcdabcd"));
    ExpectBlobRefused(r.it);
  }
}

TEST(PickleIteratorBadLengths, LengthNearIntMaxDoesNotWrapThePadding) {
  Received r(Frame(Int(std::numeric_limits<int32_t>::max()) + "abcd"));
  ExpectBlobRefused(r.it);
}

TEST(PickleIteratorBadLengths, NegativeByteCountFailsEvenWithBytesLeft) {
  Received r(Frame("abcdefgh"));
  const char* data = r.bytes.data();
  EXPECT_FALSE(r.it.ReadBytes(&data, -1));
  EXPECT_EQ(data, nullptr);
  ExpectExhausted(r.it);  // nothing is left after a failed read
}

TEST(PickleIteratorBadLengths, ShortIntFailsAndLeavesTheOutputAlone) {
  Received r(Frame(Int(1) + std::string("\x01\x02", 2)));  // payloadSize 6
  int32_t i = 0;
  ASSERT_TRUE(r.it.ReadInt(&i));
  i = 77;
  EXPECT_FALSE(r.it.ReadInt(&i));
  EXPECT_EQ(i, 77);
  ExpectExhausted(r.it);
}

// --- The last field may come without its padding ---

TEST(PickleIteratorPadding, LastBlobWithoutPaddingStillReads) {
  Received r(Frame(Int(5) + "hello"));  // payloadSize 9
  ASSERT_EQ(r.view.PayloadSize(), 9u);
  EXPECT_EQ(Blob(r.it), "hello");
  ExpectExhausted(r.it);  // the cursor stops at the end, not past it
}

// --- Invalid views read as empty ---

TEST(PickleIteratorInvalidView, EveryReadOfSubstanceFails) {
  Received r(std::string("\x10\x00\x00\x00", 4));  // announces more than exists
  ExpectExhausted(r.it);
}

}  // namespace
