// Cutting a received byte stream into messages, without any pipe.
#include "Quenlo/PipeChannelReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Quenlo/message/IPCMessage.h"
#include "tests/support/log_capture.h"

namespace Quenlo {
namespace {

using Ravoque::IPCMessage;
using test_support::LogCapture;
using test_support::LogClock;

constexpr uint32_t kMax = static_cast<uint32_t>(PipeChannelReader::kMaxMessageSize);

struct Delivered {
  uint32_t type;
  std::string data;  // "<null>" for a null blob
  const char* pointer;
};

class RecordingDelegate : public PipeChannelReader::Delegate {
 public:
  void OnHello(int32_t pid) override { hellos.push_back(pid); }
  void OnInternalBroken() override { ++broken; }
  void OnUserMessage(uint32_t type, const char* data, uint32_t length) override {
    messages.push_back(
        {type, data == nullptr ? std::string("<null>") : std::string(data, length), data});
  }
  std::vector<int32_t> hellos;
  int broken = 0;
  std::vector<Delivered> messages;
};

std::string UserMessage(uint32_t type, const std::string& text) {
  IPCMessage message(type);
  message.WriteData(text.data(), text.size());
  return std::string(message.Data(), message.Size());
}

std::string IntMessage(uint32_t type, int32_t value) {
  IPCMessage message(type);
  message.WriteInt(value);
  return std::string(message.Data(), message.Size());
}

// A header with any field values, followed by `payload`.
std::string RawMessage(uint32_t payload_size, int32_t routing, uint32_t type,
                       const std::string& payload = std::string()) {
  std::string bytes(16, '\0');
  Ravoque::StoreLE32(&bytes[0], payload_size);
  Ravoque::StoreLE32(&bytes[4], static_cast<uint32_t>(routing));
  Ravoque::StoreLE32(&bytes[8], type);
  Ravoque::StoreLE32(&bytes[12], 2);
  return bytes + payload;
}

bool Feed(PipeChannelReader& reader, const std::string& bytes) {
  return reader.TranslateInput(bytes.data(), bytes.size());
}

int CountLines(const LogCapture& capture, const std::string& text) {
  int n = 0;
  for (const std::string& line : capture.Texts()) {
    if (line.find(": " + text + "\n") != std::string::npos) ++n;
  }
  return n;
}

class PipeChannelReaderTest : public ::testing::Test {
 protected:
  LogCapture capture_{LogClock::kDriven};
  RecordingDelegate delegate_;
  PipeChannelReader reader_{&delegate_};
};

// --- Frames split across reads or merged in one read ------------------------

TEST_F(PipeChannelReaderTest, MessageSplitOverThreeReadsArrivesOnceWholeAfterTheThird) {
  const std::string wire = UserMessage(7, "split across three reads");
  ASSERT_TRUE(Feed(reader_, wire.substr(0, 10)));  // inside the header
  ASSERT_TRUE(Feed(reader_, wire.substr(10, 15)));
  EXPECT_TRUE(delegate_.messages.empty());
  EXPECT_EQ(reader_.BufferedBytes(), 25u);
  ASSERT_TRUE(Feed(reader_, wire.substr(25)));
  ASSERT_EQ(delegate_.messages.size(), 1u);
  EXPECT_EQ(delegate_.messages[0].type, 7u);
  EXPECT_EQ(delegate_.messages[0].data, "split across three reads");
  EXPECT_EQ(reader_.BufferedBytes(), 0u);
}

TEST_F(PipeChannelReaderTest, TwoMessagesInOneReadArriveInOrderFromTheReadBuffer) {
  const std::string wire = UserMessage(1, "first") + UserMessage(2, "second");
  ASSERT_TRUE(Feed(reader_, wire));
  ASSERT_EQ(delegate_.messages.size(), 2u);
  EXPECT_EQ(delegate_.messages[0].data, "first");
  EXPECT_EQ(delegate_.messages[1].data, "second");
  // Parsed in place: the blobs point into the bytes that were handed in.
  EXPECT_EQ(delegate_.messages[0].pointer, wire.data() + 20);
  EXPECT_EQ(delegate_.messages[1].pointer, wire.data() + 28 + 20);
}

TEST_F(PipeChannelReaderTest, AnyChunkingOfAStreamDeliversTheSameMessages) {
  std::string wire;
  for (uint32_t i = 0; i < 20; ++i) {
    wire += UserMessage(100 + i, std::string(i * 37 % 300, static_cast<char>('a' + i)));
  }
  wire += IntMessage(IPCMessage::kTypeHello, 4242);
  for (std::size_t chunk : {std::size_t(1), std::size_t(3), std::size_t(17), std::size_t(4096)}) {
    RecordingDelegate delegate;
    PipeChannelReader reader(&delegate);
    for (std::size_t at = 0; at < wire.size(); at += chunk) {
      ASSERT_TRUE(reader.TranslateInput(wire.data() + at, std::min(chunk, wire.size() - at)));
    }
    ASSERT_EQ(delegate.messages.size(), 20u) << "chunk " << chunk;
    for (uint32_t i = 0; i < 20; ++i) {
      EXPECT_EQ(delegate.messages[i].type, 100 + i);
      EXPECT_EQ(delegate.messages[i].data, std::string(i * 37 % 300, static_cast<char>('a' + i)));
    }
    EXPECT_EQ(delegate.hellos, std::vector<int32_t>{4242});
    EXPECT_EQ(reader.BufferedBytes(), 0u);
  }
}

TEST_F(PipeChannelReaderTest, PartialMessageReservesRoomForItAndOneMoreRead) {
  const std::string wire = UserMessage(1, std::string(10000, 'x'));
  ASSERT_TRUE(Feed(reader_, wire.substr(0, 100)));
  EXPECT_GE(reader_.BufferedCapacity(), wire.size() + 4095);
}

TEST_F(PipeChannelReaderTest, AnnouncedSizeIsNotReservedBeyondWhatArrives) {
  // A peer announces 120 MiB and sends 1 KiB of it: the reader holds about
  // what came, not what was promised.
  const std::string header = RawMessage(120u << 20, 7, 1);
  ASSERT_TRUE(Feed(reader_, header + std::string(1024, 'p')));
  EXPECT_EQ(reader_.BufferedBytes(), 16u + 1024u);
  EXPECT_LT(reader_.BufferedCapacity(), std::size_t(1) << 20);

  // A large message that does arrive grows the buffer by doubling, is
  // delivered whole, and the buffer is given back afterwards.
  const std::string big = UserMessage(9, std::string(3u << 20, 'b'));
  std::size_t growths = 0;
  std::size_t capacity = reader_.BufferedCapacity();
  reader_.Reset();
  for (std::size_t at = 0; at < big.size(); at += 4096) {
    ASSERT_TRUE(
        reader_.TranslateInput(big.data() + at, std::min<std::size_t>(4096, big.size() - at)));
    if (reader_.BufferedCapacity() != capacity) {
      capacity = reader_.BufferedCapacity();
      ++growths;
      EXPECT_LE(capacity, 2 * (reader_.BufferedBytes() + 4096)) << "grows with what arrived";
    }
  }
  ASSERT_EQ(delegate_.messages.size(), 1u);
  EXPECT_EQ(delegate_.messages[0].data.size(), 3u << 20);
  EXPECT_LT(growths, 20u) << "doubling, not a step per read";
  EXPECT_LE(reader_.BufferedCapacity(), std::size_t(64) << 10);
}

// --- Sizes beyond the 128 MiB limit ------------------------------------------

TEST_F(PipeChannelReaderTest, HeaderAnnouncingMoreThanTheLimitFailsAsSoonAsItArrives) {
  const std::string wire = UserMessage(1, "before") + RawMessage(kMax - 16 + 1, -2, 5);
  EXPECT_FALSE(Feed(reader_, wire));
  // What came before the bad header was still delivered.
  ASSERT_EQ(delegate_.messages.size(), 1u);
  EXPECT_EQ(delegate_.messages[0].data, "before");
  EXPECT_EQ(CountLines(capture_, "Failed to CheckMessageSize"), 1);
  EXPECT_EQ(reader_.BufferedBytes(), 0u);
  EXPECT_LT(reader_.BufferedCapacity(), std::size_t(1) << 20) << "nothing allocated for it";
}

TEST_F(PipeChannelReaderTest, OversizedHeaderCompletedFromAGatheredPrefixFails) {
  const std::string header = RawMessage(0xFFFFFFF0u, -2, 5);
  ASSERT_TRUE(Feed(reader_, header.substr(0, 3)));
  EXPECT_FALSE(Feed(reader_, header.substr(3)));
  EXPECT_EQ(CountLines(capture_, "Failed to CheckMessageSize"), 1);
  EXPECT_EQ(reader_.BufferedBytes(), 0u);
}

TEST_F(PipeChannelReaderTest, LargestPayloadSizeDoesNotWrapTheAnnouncedSize) {
  EXPECT_FALSE(Feed(reader_, RawMessage(0xFFFFFFFFu, -2, 5)));
  EXPECT_EQ(CountLines(capture_, "Failed to CheckMessageSize"), 1);
}

TEST_F(PipeChannelReaderTest, MessageOfExactlyTheLimitIsGatheredAndGrowthBeyondItFails) {
  ASSERT_TRUE(Feed(reader_, RawMessage(kMax - 16, -2, 5)));
  EXPECT_EQ(reader_.BufferedBytes(), 16u);
  EXPECT_EQ(CountLines(capture_, "Failed to CheckMessageSize"), 0);
  // 16 gathered + (limit - 15) more is one byte too many.
  const std::string too_much(kMax - 15, '\0');
  EXPECT_FALSE(Feed(reader_, too_much));
  EXPECT_EQ(CountLines(capture_, "Failed to CheckMessageSize"), 1);
  EXPECT_EQ(reader_.BufferedBytes(), 0u);
  EXPECT_TRUE(delegate_.messages.empty());
}

// --- Internal messages are consumed, never delivered --------------------------

TEST_F(PipeChannelReaderTest, HelloReportsThePeersProcessIdAndIsNotDelivered) {
  ASSERT_TRUE(Feed(reader_, IntMessage(IPCMessage::kTypeHello, 31337)));
  EXPECT_EQ(delegate_.hellos, std::vector<int32_t>{31337});
  EXPECT_TRUE(delegate_.messages.empty());
}

TEST_F(PipeChannelReaderTest, Types65534And65533AreSwallowed) {
  const std::string wire = IntMessage(IPCMessage::kTypeInternal, 9) +
                           UserMessage(IPCMessage::kTypeIgnored, "whatever") +
                           RawMessage(0, -2, IPCMessage::kTypeIgnored) + UserMessage(3, "user");
  ASSERT_TRUE(Feed(reader_, wire));
  ASSERT_EQ(delegate_.messages.size(), 1u);
  EXPECT_EQ(delegate_.messages[0].type, 3u);
  EXPECT_TRUE(delegate_.hellos.empty());
  EXPECT_EQ(delegate_.broken, 0);
}

TEST_F(PipeChannelReaderTest, UnreadableHelloOr65534BreaksButTheCutGoesOn) {
  const std::string wire = RawMessage(0, -2, IPCMessage::kTypeHello) +
                           RawMessage(0, -2, IPCMessage::kTypeInternal) + UserMessage(4, "after");
  ASSERT_TRUE(Feed(reader_, wire));
  EXPECT_EQ(delegate_.broken, 2);
  EXPECT_TRUE(delegate_.hellos.empty());
  EXPECT_EQ(CountLines(capture_, "Failed to HandleInternalMessage"), 2);
  ASSERT_EQ(delegate_.messages.size(), 1u);
  EXPECT_EQ(delegate_.messages[0].data, "after");
}

TEST_F(PipeChannelReaderTest, ReservedTypeWithOtherRoutingIsAUserMessage) {
  IPCMessage message(IPCMessage::kTypeHello);
  message.WriteData("hi", 2);
  std::string wire(message.Data(), message.Size());
  Ravoque::StoreLE32(&wire[4], 7);  // routing 7
  ASSERT_TRUE(Feed(reader_, wire));
  EXPECT_TRUE(delegate_.hellos.empty());
  ASSERT_EQ(delegate_.messages.size(), 1u);
  EXPECT_EQ(delegate_.messages[0].type, IPCMessage::kTypeHello);
  EXPECT_EQ(delegate_.messages[0].data, "hi");
}

// --- User payloads that hold no readable blob ---------------------------------

TEST_F(PipeChannelReaderTest, PayloadWithoutABlobIsDeliveredAsNullAndZero) {
  std::string negative(4, '\0');
  Ravoque::StoreLE32(&negative[0], 0xFFFFFFFFu);  // length -1
  std::string too_long(4, '\0');
  Ravoque::StoreLE32(&too_long[0], 100);  // more than is there
  const std::string wire =
      RawMessage(0, -2, 8) + RawMessage(4, -2, 9, negative) + RawMessage(4, -2, 10, too_long);
  ASSERT_TRUE(Feed(reader_, wire));
  ASSERT_EQ(delegate_.messages.size(), 3u);
  for (const Delivered& d : delegate_.messages) {
    EXPECT_EQ(d.data, "<null>") << d.type;
  }
}

}  // namespace
}  // namespace Quenlo
