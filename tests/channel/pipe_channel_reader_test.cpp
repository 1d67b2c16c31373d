// Cutting a received byte stream into messages, without any pipe.
#include "Quenlo/PipeChannelReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Quenlo/message/IPCMessage.h"
#include "tests/support/log_capture.h"

namespace Quenlo {
namespace {

using BrisqFramework::kLogError;
using Ravoque::IPCMessage;

using Delivered = std::vector<std::pair<uint32_t, std::string>>;

constexpr uint32_t kMax = static_cast<uint32_t>(PipeChannelReader::kMaxMessageSize);

class RecordingDelegate : public PipeChannelReader::Delegate {
 public:
  void OnHello(int32_t pid) override { hellos.push_back(pid); }
  void OnInternalBroken() override { ++broken; }
  void OnUserMessage(uint32_t type, const char* data, uint32_t length) override {
    messages.emplace_back(type,
                          data == nullptr ? std::string("<null>") : std::string(data, length));
    pointers.push_back(data);
  }
  std::vector<int32_t> hellos;
  int broken = 0;
  Delivered messages;  // data "<null>" for a null blob
  std::vector<const char*> pointers;
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

// What one more piece of input gives: TranslateInput's result, the messages, the
// hellos and the breaks it reports, and the errors it logs. Nothing is left
// buffered after it.
struct Cut {
  bool accepted = true;
  Delivered messages;
  std::vector<int32_t> hellos;
  int broken = 0;  // each with "Failed to HandleInternalMessage"
  int size_errors = 0;
};

class PipeChannelReaderTest : public ::testing::Test {
 protected:
  bool Feed(const std::string& bytes) { return reader_.TranslateInput(bytes.data(), bytes.size()); }
  int SizeErrors() const { return capture_.Count(kLogError, "Failed to CheckMessageSize"); }
  void ExpectCut(const std::string& wire, const Cut& cut) {
    EXPECT_EQ(Feed(wire), cut.accepted);
    EXPECT_EQ(delegate_.messages, cut.messages);
    EXPECT_EQ(delegate_.hellos, cut.hellos);
    EXPECT_EQ(delegate_.broken, cut.broken);
    EXPECT_EQ(capture_.Count(kLogError, "Failed to HandleInternalMessage"), cut.broken);
    EXPECT_EQ(SizeErrors(), cut.size_errors);
    EXPECT_EQ(reader_.BufferedBytes(), 0u);
  }

  test_support::LogCapture capture_{test_support::LogClock::kDriven};
  RecordingDelegate delegate_;
  PipeChannelReader reader_{&delegate_};
};

// --- Frames split across reads or merged in one read ------------------------

TEST_F(PipeChannelReaderTest, MessageSplitOverThreeReadsArrivesOnceWholeAfterTheThird) {
  const std::string wire = UserMessage(7, "split across three reads");
  ASSERT_TRUE(Feed(wire.substr(0, 10)));  // inside the header
  ASSERT_TRUE(Feed(wire.substr(10, 15)));
  EXPECT_TRUE(delegate_.messages.empty());
  EXPECT_EQ(reader_.BufferedBytes(), 25u);
  ExpectCut(wire.substr(25), {true, {{7, "split across three reads"}}});
}

TEST_F(PipeChannelReaderTest, TwoMessagesInOneReadArriveInOrderFromTheReadBuffer) {
  const std::string wire = UserMessage(1, "first") + UserMessage(2, "second");
  ExpectCut(wire, {true, {{1, "first"}, {2, "second"}}});
  // Parsed in place: the blobs point into the bytes that were handed in.
  EXPECT_EQ(delegate_.pointers, (std::vector<const char*>{&wire[20], &wire[48]}));
}

TEST_F(PipeChannelReaderTest, AnyChunkingOfAStreamDeliversTheSameMessages) {
  std::string wire;
  Delivered expected;
  for (uint32_t i = 0; i < 20; ++i) {
    expected.emplace_back(100 + i, std::string(i * 37 % 300, static_cast<char>('a' + i)));
    wire += UserMessage(expected.back().first, expected.back().second);
  }
  wire += IntMessage(IPCMessage::kTypeHello, 4242);
  for (std::size_t chunk : {std::size_t(1), std::size_t(3), std::size_t(17), std::size_t(4096)}) {
    SCOPED_TRACE(chunk);
    RecordingDelegate delegate;
    PipeChannelReader reader(&delegate);
    for (std::size_t at = 0; at < wire.size(); at += chunk) {
      ASSERT_TRUE(reader.TranslateInput(wire.data() + at, std::min(chunk, wire.size() - at)));
    }
    EXPECT_EQ(delegate.messages, expected);
    EXPECT_EQ(delegate.hellos, std::vector<int32_t>{4242});
    EXPECT_EQ(reader.BufferedBytes(), 0u);
  }
}

TEST_F(PipeChannelReaderTest, PartialMessageReservesRoomForItAndOneMoreRead) {
  const std::string wire = UserMessage(1, std::string(10000, 'x'));
  ASSERT_TRUE(Feed(wire.substr(0, 100)));
  EXPECT_GE(reader_.BufferedCapacity(), wire.size() + 4095);
}

TEST_F(PipeChannelReaderTest, AnnouncedSizeIsNotReservedBeyondWhatArrives) {
  // A peer announces 120 MiB and sends 1 KiB of it: the reader holds about
  // what came, not what was promised.
  ASSERT_TRUE(Feed(RawMessage(120u << 20, 7, 1) + std::string(1024, 'p')));
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
  EXPECT_EQ(delegate_.messages[0].second.size(), 3u << 20);
  EXPECT_LT(growths, 20u) << "doubling, not a step per read";
  EXPECT_LE(reader_.BufferedCapacity(), std::size_t(64) << 10);
}

// --- Sizes beyond the 128 MiB limit ------------------------------------------

TEST_F(PipeChannelReaderTest, HeaderAnnouncingMoreThanTheLimitFailsAsSoonAsItArrives) {
  // What came before the bad header was still delivered.
  ExpectCut(UserMessage(1, "before") + RawMessage(kMax - 16 + 1, -2, 5),
            {false, {{1, "before"}}, {}, 0, /*size_errors=*/1});
  EXPECT_LT(reader_.BufferedCapacity(), std::size_t(1) << 20) << "nothing allocated for it";
}

TEST_F(PipeChannelReaderTest, OversizedHeaderCompletedFromAGatheredPrefixFails) {
  const std::string header = RawMessage(0xFFFFFFF0u, -2, 5);
  ASSERT_TRUE(Feed(header.substr(0, 3)));
  ExpectCut(header.substr(3), {false, {}, {}, 0, /*size_errors=*/1});
}

TEST_F(PipeChannelReaderTest, LargestPayloadSizeDoesNotWrapTheAnnouncedSize) {
  ExpectCut(RawMessage(0xFFFFFFFFu, -2, 5), {false, {}, {}, 0, /*size_errors=*/1});
}

TEST_F(PipeChannelReaderTest, MessageOfExactlyTheLimitIsGatheredAndGrowthBeyondItFails) {
  ASSERT_TRUE(Feed(RawMessage(kMax - 16, -2, 5)));
  EXPECT_EQ(reader_.BufferedBytes(), 16u);
  EXPECT_EQ(SizeErrors(), 0);
  // 16 gathered + (limit - 15) more is one byte too many.
  ExpectCut(std::string(kMax - 15, '\0'), {false, {}, {}, 0, /*size_errors=*/1});
}

// --- Internal messages are consumed, never delivered --------------------------

TEST_F(PipeChannelReaderTest, HelloReportsThePeersProcessIdAndIsNotDelivered) {
  ExpectCut(IntMessage(IPCMessage::kTypeHello, 31337), {true, {}, {31337}});
}

TEST_F(PipeChannelReaderTest, Types65534And65533AreSwallowed) {
  ExpectCut(IntMessage(IPCMessage::kTypeInternal, 9) +
                UserMessage(IPCMessage::kTypeIgnored, "whatever") +
                RawMessage(0, -2, IPCMessage::kTypeIgnored) + UserMessage(3, "user"),
            {true, {{3, "user"}}});
}

TEST_F(PipeChannelReaderTest, UnreadableHelloOr65534BreaksButTheCutGoesOn) {
  ExpectCut(RawMessage(0, -2, IPCMessage::kTypeHello) +
                RawMessage(0, -2, IPCMessage::kTypeInternal) + UserMessage(4, "after"),
            {true, {{4, "after"}}, {}, /*broken=*/2});
}

TEST_F(PipeChannelReaderTest, ReservedTypeWithOtherRoutingIsAUserMessage) {
  std::string wire = UserMessage(IPCMessage::kTypeHello, "hi");
  Ravoque::StoreLE32(&wire[4], 7);  // routing 7
  ExpectCut(wire, {true, {{IPCMessage::kTypeHello, "hi"}}});
}

// --- User payloads that hold no readable blob ---------------------------------

TEST_F(PipeChannelReaderTest, PayloadWithoutABlobIsDeliveredAsNullAndZero) {
  std::string lengths(8, '\0');
  Ravoque::StoreLE32(&lengths[0], 0xFFFFFFFFu);  // length -1
  Ravoque::StoreLE32(&lengths[4], 100);          // more than is there
  ExpectCut(RawMessage(0, -2, 8) + RawMessage(4, -2, 9, lengths.substr(0, 4)) +
                RawMessage(4, -2, 10, lengths.substr(4)),
            {true, {{8, "<null>"}, {9, "<null>"}, {10, "<null>"}}});
}

}  // namespace
}  // namespace Quenlo
