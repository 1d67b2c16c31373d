#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Quenlo/layout/RingLayout.h"
#include "Quenlo/layout/RingSlotWriter.h"

namespace {

using Quenlo::CommitSlot;
using Quenlo::LoadRingHeader;
using Quenlo::RingHeader;
using Quenlo::RingKind;
using Quenlo::StorePacket;
using Quenlo::WriteRingHeader;

constexpr uint32_t kRecord = Quenlo::kPacketRecordSize;
constexpr uint8_t kUntouched = 0xAA;

MediaPacket Packet(uint32_t kind) {
  MediaPacket p;
  std::memset(&p, 0, sizeof(p));
  p.kind = kind;
  return p;
}

MediaPacket Video(uint32_t format, uint32_t w, uint32_t h, bool flip = false) {
  MediaPacket p = Packet(MEDIA_PACKET_VIDEO);
  p.format = format;
  p.width = w;
  p.height = h;
  p.flip = flip ? 1 : 0;
  return p;
}

// A slot of `capacity` payload bytes, pre-filled so that untouched bytes show.
std::vector<uint8_t> Slot(size_t capacity) {
  return std::vector<uint8_t>(kRecord + capacity, kUntouched);
}

// Source rows whose bytes name their row: row r is filled with r + 1.
std::vector<uint8_t> Rows(size_t rows, size_t stride) {
  std::vector<uint8_t> v(rows * stride);
  for (size_t r = 0; r < rows; ++r) std::memset(v.data() + r * stride, int(r + 1), stride);
  return v;
}

uint8_t PayloadAt(const std::vector<uint8_t>& slot, size_t offset) {
  return slot[kRecord + offset];
}

// --- The header of a new ring ---

TEST(RingHeaderWrite, VideoHeaderTakesItsInfoFromTheFirstPacket) {
  std::vector<uint8_t> base(Quenlo::kRingHeaderSize, kUntouched);
  MediaPacket first = Video(12, 900, 180);
  first.video_info0 = 0x11223344;
  first.video_info1 = 7;
  WriteRingHeader(base.data(), RingKind::kVideo, first);
  const RingHeader h = LoadRingHeader(base.data());
  EXPECT_EQ(Quenlo::LoadU32(base.data()), 0u);
  EXPECT_EQ(h.last_index, 0);
  EXPECT_EQ(h.slot_size, 8294568u);
  EXPECT_EQ(h.slot_count, 3u);
  EXPECT_EQ(h.info0, 0x11223344u);
  EXPECT_EQ(h.info1, 7u);
  EXPECT_EQ(h.fill_state, 2u);
  for (size_t i = 16; i < 24; ++i) EXPECT_EQ(base[i], kUntouched) << "byte " << i;
  for (size_t i = 36; i < 48; ++i) EXPECT_EQ(base[i], kUntouched) << "byte " << i;
}

TEST(RingHeaderWrite, AudioHeaderHoldsOneAndThePacketsSixteenthByteValue) {
  std::vector<uint8_t> base(Quenlo::kRingHeaderSize, 0);
  MediaPacket first = Packet(MEDIA_PACKET_AUDIO);
  first.width = 48000;
  first.video_info0 = 99;
  WriteRingHeader(base.data(), RingKind::kAudio, first);
  const RingHeader h = LoadRingHeader(base.data());
  EXPECT_EQ(h.slot_size, 123048u);
  EXPECT_EQ(h.info0, 1u);
  EXPECT_EQ(h.info1, 48000u);
}

// --- Stepping through the ring ---

TEST(RingCommit, ThreePacketsBringTheWriterBackToSlotZeroWrapped) {
  std::vector<uint8_t> base(Quenlo::kRingHeaderSize, 0);
  WriteRingHeader(base.data(), RingKind::kVideo, Video(12, 2, 2));
  int32_t index = 0;
  const uint32_t acks[3] = {1, 0, 1};
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(LoadRingHeader(base.data()).fill_state, 2u) << "before packet " << i;
    CommitSlot(base.data(), acks[i], &index);
    const RingHeader h = LoadRingHeader(base.data());
    EXPECT_EQ(h.last_index, i);
    EXPECT_EQ(h.ack_requested, acks[i]);
  }
  EXPECT_EQ(index, 0);
  EXPECT_EQ(LoadRingHeader(base.data()).fill_state, 4u);
  CommitSlot(base.data(), 1, &index);
  EXPECT_EQ(LoadRingHeader(base.data()).last_index, 0);
  EXPECT_EQ(LoadRingHeader(base.data()).fill_state, 4u);
}

// --- Copying the record and the planes ---

TEST(RingSlotStore, RecordIsStoredAsGivenPointersIncluded) {
  std::vector<uint8_t> slot = Slot(64);
  std::vector<uint8_t> pixels = Rows(2, 8);
  MediaPacket p = Video(12, 2, 2);
  p.linesize[0] = 8;
  p.data[0] = pixels.data();
  p.timestamp = 0x0102030405060708ull;
  p.reserved40[3] = 0x5A;
  ASSERT_EQ(StorePacket(slot.data(), 64, p), "");
  EXPECT_EQ(std::memcmp(slot.data(), &p, kRecord), 0);
}

TEST(RingSlotStore, FlipFlagStoresRowsBottomUp) {
  for (uint32_t format : {12u, 9u}) {
    const uint32_t row = format == 12 ? 16 : 12;  // 4 pixels of 4 or 3 bytes
    std::vector<uint8_t> pixels = Rows(3, row);
    std::vector<uint8_t> slot = Slot(256);
    MediaPacket p = Video(format, 4, 3, /*flip=*/true);
    p.linesize[0] = static_cast<int32_t>(row);
    p.data[0] = pixels.data();
    ASSERT_EQ(StorePacket(slot.data(), 256, p), "");
    for (uint32_t r = 0; r < 3; ++r) {
      EXPECT_EQ(PayloadAt(slot, r * row), 3 - r) << "format " << format << " row " << r;
      EXPECT_EQ(PayloadAt(slot, r * row + row - 1), 3 - r) << "format " << format << " row " << r;
    }
    EXPECT_EQ(PayloadAt(slot, 3 * row), kUntouched);

    p.flip = 0;
    ASSERT_EQ(StorePacket(slot.data(), 256, p), "");
    for (uint32_t r = 0; r < 3; ++r) EXPECT_EQ(PayloadAt(slot, r * row), r + 1);
  }
}

TEST(RingSlotStore, FlipFlagIsIgnoredByPlanarFormats) {
  std::vector<uint8_t> y = Rows(4, 4), u = Rows(2, 2), v = Rows(2, 2);
  std::vector<uint8_t> slot = Slot(256);
  MediaPacket p = Video(1, 4, 4, /*flip=*/true);
  p.data[0] = y.data();
  p.data[1] = u.data();
  p.data[2] = v.data();
  p.linesize[0] = 4;
  p.linesize[1] = 2;
  p.linesize[2] = 2;
  ASSERT_EQ(StorePacket(slot.data(), 256, p), "");
  EXPECT_EQ(PayloadAt(slot, 0), 1);
  EXPECT_EQ(PayloadAt(slot, 12), 4);
  EXPECT_EQ(PayloadAt(slot, 32), 1);  // A = 16 -> 32
  EXPECT_EQ(PayloadAt(slot, 34), 2);
  EXPECT_EQ(PayloadAt(slot, 64), 1);  // A + Q = 32 + 32
}

TEST(RingSlotStore, PaddedSourceRowsArePackedToTheTableWidth) {
  std::vector<uint8_t> y = Rows(2, 16);  // width 4, stride 16
  std::vector<uint8_t> uv = Rows(1, 16);
  std::vector<uint8_t> slot = Slot(128);
  MediaPacket p = Video(3, 4, 2);
  p.data[0] = y.data();
  p.data[1] = uv.data();
  p.linesize[0] = 16;
  p.linesize[1] = 16;
  ASSERT_EQ(StorePacket(slot.data(), 128, p), "");
  const uint8_t expected_y[8] = {1, 1, 1, 1, 2, 2, 2, 2};
  EXPECT_EQ(std::memcmp(slot.data() + kRecord, expected_y, 8), 0);
  EXPECT_EQ(PayloadAt(slot, 8), kUntouched);  // A = 8 -> 32: the gap stays
  EXPECT_EQ(PayloadAt(slot, 32), 1);
  EXPECT_EQ(PayloadAt(slot, 36), kUntouched);
}

TEST(RingSlotStore, ShortSourceRowsCopyOnlyTheirOwnBytes) {
  std::vector<uint8_t> src = Rows(2, 3);  // format 5: rows of 2w = 8, source stride 3
  std::vector<uint8_t> slot = Slot(64);
  MediaPacket p = Video(5, 4, 2);
  p.data[0] = src.data();
  p.linesize[0] = 3;
  ASSERT_EQ(StorePacket(slot.data(), 64, p), "");
  EXPECT_EQ(PayloadAt(slot, 2), 1);
  EXPECT_EQ(PayloadAt(slot, 3), kUntouched);
  EXPECT_EQ(PayloadAt(slot, 8), 2);
  EXPECT_EQ(PayloadAt(slot, 11), kUntouched);
}

TEST(RingSlotStore, FormatsWithoutPayloadWriteOnlyTheRecord) {
  for (uint32_t format : {8u, 13u, 0u, 30u}) {
    std::vector<uint8_t> slot = Slot(32);
    MediaPacket p = Video(format, 1920, 1080, true);
    p.linesize[0] = 7680;  // data pointers stay null: nothing may be read from them
    ASSERT_EQ(StorePacket(slot.data(), 32, p), "") << "format " << format;
    EXPECT_EQ(std::memcmp(slot.data(), &p, kRecord), 0);
    for (size_t i = 0; i < 32; ++i)
      ASSERT_EQ(PayloadAt(slot, i), kUntouched) << "format " << format;
  }
}

TEST(RingSlotStore, AudioPayloadFollowsTheRecord) {
  std::vector<uint8_t> samples(100);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i);
  std::vector<uint8_t> slot = Slot(128);
  MediaPacket p = Packet(MEDIA_PACKET_AUDIO);
  p.data[0] = samples.data();
  p.audio_bytes = 100;
  ASSERT_EQ(StorePacket(slot.data(), 128, p), "");
  EXPECT_EQ(std::memcmp(slot.data() + kRecord, samples.data(), 100), 0);
  EXPECT_EQ(PayloadAt(slot, 100), kUntouched);
}

// --- Refused packets leave the slot untouched ---

void ExpectRefused(const MediaPacket& p, uint64_t capacity, const std::string& error) {
  std::vector<uint8_t> slot = Slot(capacity);
  EXPECT_EQ(StorePacket(slot.data(), capacity, p), error);
  for (size_t i = 0; i < slot.size(); ++i) ASSERT_EQ(slot[i], kUntouched) << error << " byte " << i;
}

TEST(RingSlotRefusal, OversizedFramesAndPayloads) {
  std::vector<uint8_t> tiny(16);
  MediaPacket wrap = Video(12, 65536, 65536);
  wrap.linesize[0] = 4;
  wrap.data[0] = tiny.data();  // a copy would run far past this buffer
  ExpectRefused(wrap, 256, "Failed to SendPacket(invalid video size(65536,65536)");

  MediaPacket wide = Video(12, 8, 8);
  wide.linesize[0] = 33;  // 8 rows of 33 bytes = 264
  wide.data[0] = tiny.data();
  ExpectRefused(wide, 256, "Failed to SendPacket(video frame too large(264,256))");

  MediaPacket huge = Video(1, 0xFFFFFFFFu, 2);  // sizes print as signed 32-bit values
  ExpectRefused(huge, 256, "Failed to SendPacket(invalid video size(-1,2)");

  std::vector<uint8_t> samples(257);
  MediaPacket audio = Packet(MEDIA_PACKET_AUDIO);
  audio.audio_bytes = 257;
  audio.data[0] = samples.data();
  ExpectRefused(audio, 256, "Failed to SendPacket(audio data too large(257,256))");
  audio.audio_bytes = 256;
  std::vector<uint8_t> slot = Slot(256);
  EXPECT_EQ(StorePacket(slot.data(), 256, audio), "");
}

// The reader hands the rows on at the table's width, so only the rows as
// stored must fit the slot; a padded source stride does not count.
TEST(RingSlotRefusal, RowsReadBackAtTheStrideMustFitTheSlot) {
  std::vector<uint8_t> src(1024, 9);
  MediaPacket p = Video(1, 16, 16);  // planes end at 384; plane 2 at 320, 8 rows of 8
  for (int i = 0; i < 3; ++i) p.data[i] = src.data();
  p.linesize[0] = 16;
  p.linesize[1] = 8;
  p.linesize[2] = 100;  // padded: 320 + 7 * 100 + 8 would be 1028
  p.linesize[3] = -1;   // a plane the format lacks
  std::vector<uint8_t> slot = Slot(384);
  EXPECT_EQ(StorePacket(slot.data(), 384, p), "");
  ExpectRefused(p, 383, "Failed to SendPacket(video frame too large(384,383))");

  // A decoder's four-plane full-HD frame, rows padded to 1984 bytes, fills
  // the slot exactly.
  MediaPacket full = Video(15, 1920, 1080);
  std::vector<uint8_t> rows(size_t{1984} * 1080);
  for (int i = 0; i < 4; ++i) {
    full.data[i] = rows.data();
    full.linesize[i] = 1984;
  }
  std::vector<uint8_t> big = Slot(Quenlo::kVideoPayloadSize);
  EXPECT_EQ(StorePacket(big.data(), Quenlo::kVideoPayloadSize, full), "");
}

TEST(RingSlotRefusal, MissingSourcePointers) {
  MediaPacket video = Video(1, 4, 4);
  std::vector<uint8_t> y = Rows(4, 4), u = Rows(2, 2);
  video.data[0] = y.data();
  video.data[1] = u.data();  // plane 2 missing
  video.linesize[0] = 4;
  video.linesize[1] = 2;
  video.linesize[2] = 2;
  ExpectRefused(video, 256, "Failed to SendPacket(missing plane data(2))");

  MediaPacket audio = Packet(MEDIA_PACKET_AUDIO);
  audio.audio_bytes = 4;
  ExpectRefused(audio, 256, "Failed to SendPacket(missing audio data)");
}

TEST(RingSlotRefusal, NullPointerIsFineWhenNothingIsCopiedFromIt) {
  std::vector<uint8_t> slot = Slot(64);
  MediaPacket audio = Packet(MEDIA_PACKET_AUDIO);
  EXPECT_EQ(StorePacket(slot.data(), 64, audio), "");
  MediaPacket video = Video(12, 4, 0);
  video.linesize[0] = 16;
  EXPECT_EQ(StorePacket(slot.data(), 64, video), "");
}

TEST(RingSlotRefusal, NegativeStrideAndUnknownKind) {
  std::vector<uint8_t> pixels = Rows(2, 8);
  MediaPacket p = Video(12, 2, 2);
  p.data[0] = pixels.data() + 8;
  p.linesize[0] = -8;
  ExpectRefused(p, 256, "Failed to SendPacket(invalid stride(0,-8))");
  ExpectRefused(Packet(3), 256, "Failed to SendPacket(invalid kind(3))");
  ExpectRefused(Packet(0), 256, "Failed to SendPacket(invalid kind(0))");
}

}  // namespace
