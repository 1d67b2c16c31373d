#include "wire_frames.h"

#include <gtest/gtest.h>

#include <vector>

namespace transport_bench {
namespace {

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// The baseline must put exactly as many bytes on the pipe as the library.
TEST(WireFramesTest, MessagesHaveTheLibrarysLayoutAndSize) {
  const std::vector<uint8_t> message = BuildWireMessage(3, 256);
  ASSERT_EQ(message.size(), 16u + 4u + 256u);
  EXPECT_EQ(U32At(message, 0), 260u);         // payloadSize
  EXPECT_EQ(U32At(message, 4), 0xFFFFFFFEu);  // routing -2
  EXPECT_EQ(U32At(message, 8), 3u);           // type
  EXPECT_EQ(U32At(message, 16), 256u);        // blob length

  const std::vector<uint8_t> odd = BuildWireMessage(1, 5);
  ASSERT_EQ(odd.size(), 16u + 4u + 8u);
  EXPECT_EQ(U32At(odd, 0), 12u);
  EXPECT_EQ(odd[25], 0);  // padding
  EXPECT_EQ(odd[27], 0);
  EXPECT_EQ(WireMessageSize(65536), 16u + 4u + 65536u);
}

// The reader sees the stream in arbitrary pieces: a header split anywhere
// must neither lose nor invent a message.
TEST(WireFramesTest, CounterCountsWholeMessagesAcrossAnySplit) {
  std::vector<uint8_t> stream;
  for (size_t payload : {256u, 5u, 0u, 65536u, 1u}) {
    const std::vector<uint8_t> message = BuildWireMessage(1, payload);
    stream.insert(stream.end(), message.begin(), message.end());
  }
  for (size_t piece : {1u, 3u, 4u, 17u, 4096u, 100000u}) {
    WireMessageCounter counter;
    for (size_t at = 0; at < stream.size(); at += piece) {
      const size_t size = stream.size() - at < piece ? stream.size() - at : piece;
      counter.Feed(stream.data() + at, size);
      if (at + size < stream.size()) {
        EXPECT_LT(counter.messages(), 5u) << "piece " << piece;
      }
    }
    EXPECT_EQ(counter.messages(), 5u) << "piece " << piece;
    EXPECT_EQ(counter.bytes(), stream.size());
  }
}

TEST(WireFramesTest, CounterWaitsForTheLastByteOfAMessage) {
  const std::vector<uint8_t> message = BuildWireMessage(1, 8);
  WireMessageCounter counter;
  counter.Feed(message.data(), message.size() - 1);
  EXPECT_EQ(counter.messages(), 0u);
  counter.Feed(message.data() + message.size() - 1, 1);
  EXPECT_EQ(counter.messages(), 1u);
}

}  // namespace
}  // namespace transport_bench
