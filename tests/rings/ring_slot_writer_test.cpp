#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
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
// What a slot holds before a store, so that untouched bytes show.
constexpr uint8_t kUntouched = 0xAA;

MediaPacket Packet(uint32_t kind) {
  MediaPacket p;
  std::memset(&p, 0, sizeof(p));
  p.kind = kind;
  return p;
}

// A source plane: data[i] and linesize[i] of a packet.
struct Source {
  uint8_t* data;
  int32_t stride;
};

MediaPacket Video(uint32_t format, uint32_t w, uint32_t h,
                  std::initializer_list<Source> planes = {}, bool flip = false) {
  MediaPacket p = Packet(MEDIA_PACKET_VIDEO);
  p.format = format;
  p.width = w;
  p.height = h;
  p.flip = flip ? 1 : 0;
  int i = 0;
  for (const Source& s : planes) {
    p.data[i] = s.data;
    p.linesize[i++] = s.stride;
  }
  return p;
}

MediaPacket Audio(uint32_t bytes, uint8_t* data) {
  MediaPacket p = Packet(MEDIA_PACKET_AUDIO);
  p.audio_bytes = bytes;
  p.data[0] = data;
  return p;
}

// A fresh slot of `capacity` payload bytes with `p` stored in it; the store must succeed.
std::vector<uint8_t> Stored(const MediaPacket& p, size_t capacity) {
  std::vector<uint8_t> slot(kRecord + capacity, kUntouched);
  EXPECT_EQ(StorePacket(slot.data(), capacity, p), "") << "format " << p.format;
  return slot;
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
  std::vector<uint8_t> pixels = Rows(2, 8);
  MediaPacket p = Video(12, 2, 2, {{pixels.data(), 8}});
  p.timestamp = 0x0102030405060708ull;
  p.reserved40[3] = 0x5A;
  EXPECT_EQ(std::memcmp(Stored(p, 64).data(), &p, kRecord), 0);
}

TEST(RingSlotStore, FlipFlagStoresRowsBottomUp) {
  for (uint32_t format : {12u, 9u}) {
    const uint32_t row = format == 12 ? 16 : 12;  // 4 pixels of 4 or 3 bytes
    std::vector<uint8_t> pixels = Rows(3, row);
    MediaPacket p = Video(format, 4, 3, {{pixels.data(), int32_t(row)}}, /*flip=*/true);
    std::vector<uint8_t> slot = Stored(p, 256);
    for (uint32_t r = 0; r < 3; ++r) {
      EXPECT_EQ(PayloadAt(slot, r * row), 3 - r) << "format " << format << " row " << r;
      EXPECT_EQ(PayloadAt(slot, r * row + row - 1), 3 - r) << "format " << format << " row " << r;
    }
    EXPECT_EQ(PayloadAt(slot, 3 * row), kUntouched);

    p.flip = 0;
    slot = Stored(p, 256);
    for (uint32_t r = 0; r < 3; ++r) EXPECT_EQ(PayloadAt(slot, r * row), r + 1);
  }
}

TEST(RingSlotStore, FlipFlagIsIgnoredByPlanarFormats) {
  std::vector<uint8_t> y = Rows(4, 4), u = Rows(2, 2), v = Rows(2, 2);
  const std::vector<uint8_t> slot =
      Stored(Video(1, 4, 4, {{y.data(), 4}, {u.data(), 2}, {v.data(), 2}}, /*flip=*/true), 256);
  EXPECT_EQ(PayloadAt(slot, 0), 1);
  EXPECT_EQ(PayloadAt(slot, 12), 4);
  EXPECT_EQ(PayloadAt(slot, 32), 1);  // A = 16 -> 32
  EXPECT_EQ(PayloadAt(slot, 34), 2);
  EXPECT_EQ(PayloadAt(slot, 64), 1);  // A + Q = 32 + 32
}

TEST(RingSlotStore, PaddedSourceRowsArePackedToTheTableWidth) {
  std::vector<uint8_t> y = Rows(2, 16);  // width 4, stride 16
  std::vector<uint8_t> uv = Rows(1, 16);
  const std::vector<uint8_t> slot = Stored(Video(3, 4, 2, {{y.data(), 16}, {uv.data(), 16}}), 128);
  const uint8_t expected_y[8] = {1, 1, 1, 1, 2, 2, 2, 2};
  EXPECT_EQ(std::memcmp(slot.data() + kRecord, expected_y, 8), 0);
  EXPECT_EQ(PayloadAt(slot, 8), kUntouched);  // A = 8 -> 32: the gap stays
  EXPECT_EQ(PayloadAt(slot, 32), 1);
  EXPECT_EQ(PayloadAt(slot, 36), kUntouched);
}

TEST(RingSlotStore, ShortSourceRowsCopyOnlyTheirOwnBytes) {
  std::vector<uint8_t> src = Rows(2, 3);  // format 5: rows of 2w = 8, source stride 3
  const std::vector<uint8_t> slot = Stored(Video(5, 4, 2, {{src.data(), 3}}), 64);
  EXPECT_EQ(PayloadAt(slot, 2), 1);
  EXPECT_EQ(PayloadAt(slot, 3), kUntouched);
  EXPECT_EQ(PayloadAt(slot, 8), 2);
  EXPECT_EQ(PayloadAt(slot, 11), kUntouched);
}

TEST(RingSlotStore, FormatsWithoutPayloadWriteOnlyTheRecord) {
  for (uint32_t format : {8u, 13u, 0u, 30u}) {
    // The data pointer stays null: nothing may be read from it.
    const MediaPacket p = Video(format, 1920, 1080, {{nullptr, 7680}}, true);
    const std::vector<uint8_t> slot = Stored(p, 32);
    EXPECT_EQ(std::memcmp(slot.data(), &p, kRecord), 0);
    for (size_t i = 0; i < 32; ++i)
      ASSERT_EQ(PayloadAt(slot, i), kUntouched) << "format " << format;
  }
}

TEST(RingSlotStore, AudioPayloadFollowsTheRecord) {
  std::vector<uint8_t> samples(100);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i);
  const std::vector<uint8_t> slot = Stored(Audio(100, samples.data()), 128);
  EXPECT_EQ(std::memcmp(slot.data() + kRecord, samples.data(), 100), 0);
  EXPECT_EQ(PayloadAt(slot, 100), kUntouched);
}

// --- Refused packets leave the slot untouched ---

void ExpectRefused(const MediaPacket& p, uint64_t capacity, const std::string& error) {
  std::vector<uint8_t> slot(kRecord + capacity, kUntouched);
  EXPECT_EQ(StorePacket(slot.data(), capacity, p), error);
  for (size_t i = 0; i < slot.size(); ++i) ASSERT_EQ(slot[i], kUntouched) << error << " byte " << i;
}

TEST(RingSlotRefusal, OversizedFramesAndPayloads) {
  std::vector<uint8_t> tiny(16);  // a copy of any of these frames would run far past it
  ExpectRefused(Video(12, 65536, 65536, {{tiny.data(), 4}}), 256,
                "Failed to SendPacket(invalid video size(65536,65536)");
  ExpectRefused(Video(12, 8, 8, {{tiny.data(), 33}}), 256,  // 8 rows of 33 bytes = 264
                "Failed to SendPacket(video frame too large(264,256))");
  ExpectRefused(Video(1, 0xFFFFFFFFu, 2), 256,  // sizes print as signed 32-bit values
                "Failed to SendPacket(invalid video size(-1,2)");

  std::vector<uint8_t> samples(257);
  ExpectRefused(Audio(257, samples.data()), 256,
                "Failed to SendPacket(audio data too large(257,256))");
  Stored(Audio(256, samples.data()), 256);
}

// The reader hands the rows on at the table's width, so only the rows as
// stored must fit the slot; a padded source stride does not count.
TEST(RingSlotRefusal, RowsReadBackAtTheStrideMustFitTheSlot) {
  std::vector<uint8_t> src(1024, 9);
  // Planes end at 384; plane 2 at 320, 8 rows of 8, padded: 320 + 7 * 100 + 8 would be 1028.
  // Plane 3 is one the format lacks.
  const MediaPacket p =
      Video(1, 16, 16, {{src.data(), 16}, {src.data(), 8}, {src.data(), 100}, {nullptr, -1}});
  Stored(p, 384);
  ExpectRefused(p, 383, "Failed to SendPacket(video frame too large(384,383))");

  // A decoder's four-plane full-HD frame, rows padded to 1984 bytes, fills
  // the slot exactly.
  std::vector<uint8_t> rows(size_t{1984} * 1080);
  const Source padded{rows.data(), 1984};
  Stored(Video(15, 1920, 1080, {padded, padded, padded, padded}), Quenlo::kVideoPayloadSize);
}

TEST(RingSlotRefusal, MissingSourcePointers) {
  std::vector<uint8_t> y = Rows(4, 4), u = Rows(2, 2);
  ExpectRefused(Video(1, 4, 4, {{y.data(), 4}, {u.data(), 2}, {nullptr, 2}}), 256,
                "Failed to SendPacket(missing plane data(2))");
  ExpectRefused(Audio(4, nullptr), 256, "Failed to SendPacket(missing audio data)");
}

TEST(RingSlotRefusal, NullPointerIsFineWhenNothingIsCopiedFromIt) {
  Stored(Audio(0, nullptr), 64);
  Stored(Video(12, 4, 0, {{nullptr, 16}}), 64);
}

TEST(RingSlotRefusal, NegativeStrideAndUnknownKind) {
  std::vector<uint8_t> pixels = Rows(2, 8);
  ExpectRefused(Video(12, 2, 2, {{pixels.data() + 8, -8}}), 256,
                "Failed to SendPacket(invalid stride(0,-8))");
  ExpectRefused(Packet(3), 256, "Failed to SendPacket(invalid kind(3))");
  ExpectRefused(Packet(0), 256, "Failed to SendPacket(invalid kind(0))");
}

}  // namespace
