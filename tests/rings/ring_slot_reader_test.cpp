#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Quenlo/layout/RingLayout.h"
#include "Quenlo/layout/RingSlotReader.h"
#include "Quenlo/layout/RingSlotWriter.h"

namespace {

using Quenlo::kHeaderLastIndex;
using Quenlo::kHeaderSlotCount;
using Quenlo::kHeaderSlotSize;
using Quenlo::RingKind;
using Quenlo::RingRead;

constexpr uint32_t kRecord = Quenlo::kPacketRecordSize;
constexpr uint32_t kHeader = Quenlo::kRingHeaderSize;

// A small ring written the way the writer writes one (three slots of
// `capacity` payload bytes plus the unused fourth), so that round trips
// and hostile headers can be tried without 33 MB mappings, and a reader of
// it (`index`, `out`).
class SmallRing {
 public:
  explicit SmallRing(RingKind kind, uint32_t capacity = 1024)
      : kind_(kind),
        slot_size_(kRecord + capacity),
        bytes_(kHeader + Quenlo::kRingSlotRoom * slot_size_, 0) {
    MediaPacket first;
    std::memset(&first, 0, sizeof(first));
    Quenlo::WriteRingHeader(base(), kind, first);
    SetU32(kHeaderSlotSize, slot_size_);
  }

  uint8_t* base() { return bytes_.data(); }
  uint8_t* slot(uint32_t k) { return base() + kHeader + k * slot_size_; }
  void SetU32(size_t offset, uint32_t value) { Quenlo::StoreU32(base() + offset, value); }

  // Stores and commits a packet as the writer does; returns the slot used.
  int32_t Write(const MediaPacket& p) {
    const int32_t used = writer_index_;
    EXPECT_EQ(Quenlo::StorePacket(slot(used), slot_size_ - kRecord, p), "");
    Quenlo::CommitSlot(base(), 1, &writer_index_);
    return used;
  }

  RingRead Read(Quenlo::RingDelivery* delivered = nullptr) {
    return Quenlo::ReadRingSlot(base(), bytes_.size(), kind_, &index, &out, delivered);
  }
  // Reads a packet that must be there; its time stamp.
  uint64_t ReadStamp(Quenlo::RingDelivery* delivered = nullptr) {
    const RingRead r = Read(delivered);
    EXPECT_EQ(r.status, RingRead::kRead) << r.error;
    return out.timestamp;
  }

  int32_t index = -1;
  MediaPacket out;

 private:
  RingKind kind_;
  uint32_t slot_size_;
  std::vector<uint8_t> bytes_;
  int32_t writer_index_ = 0;
};

std::vector<uint8_t> g_pixels(4096, 0x5C);

MediaPacket Frame(uint32_t format, uint32_t w, uint32_t h, int32_t stride0, uint64_t stamp = 0) {
  MediaPacket p;
  std::memset(&p, 0, sizeof(p));
  p.kind = MEDIA_PACKET_VIDEO;
  p.format = format;
  p.width = w;
  p.height = h;
  p.timestamp = stamp;
  for (int i = 0; i < 4; ++i) {
    p.data[i] = g_pixels.data();
    p.linesize[i] = stride0;
  }
  for (int i = 4; i < 8; ++i) p.data[i] = reinterpret_cast<uint8_t*>(uintptr_t{0xDEAD0000} + i);
  return p;
}

// A 2 x 2 frame of format 12.
MediaPacket Tiny(uint64_t stamp) { return Frame(12, 2, 2, 8, stamp); }

MediaPacket Sound(uint32_t bytes, uint64_t stamp) {
  MediaPacket p;
  std::memset(&p, 0, sizeof(p));
  p.kind = MEDIA_PACKET_AUDIO;
  p.audio_bytes = bytes;
  p.data[0] = g_pixels.data();
  p.data[1] = g_pixels.data();
  p.timestamp = stamp;
  return p;
}

// --- Round trips: pointers into the slot, fields as stored ---

TEST(RingReadVideo, PlanesPointIntoTheSlotAtTheTableOffsets) {
  SmallRing ring(RingKind::kVideo);
  ring.Write(Frame(1, 16, 16, 16, 77));
  const RingRead r = ring.Read();
  ASSERT_EQ(r.status, RingRead::kRead) << r.error;
  const uint8_t* payload = ring.slot(0) + kRecord;
  const MediaPacket& out = ring.out;
  EXPECT_EQ(std::vector<const uint8_t*>(out.data, out.data + 8),
            (std::vector<const uint8_t*>{payload, payload + 256, payload + 256 + 64, nullptr,
                                         nullptr, nullptr, nullptr, nullptr}));
  EXPECT_EQ(std::vector<int32_t>(out.linesize, out.linesize + 3), (std::vector<int32_t>{16, 8, 8}))
      << "strides are the row widths in the slot";
  EXPECT_EQ(out.timestamp, 77u);
  EXPECT_EQ(out.width, 16u);
  EXPECT_EQ(r.plane_count, 3u);
  EXPECT_EQ(ring.index, 1);
}

TEST(RingReadVideo, FormatWithoutPayloadAdvancesAndFormsNoPointer) {
  SmallRing ring(RingKind::kVideo);
  ring.Write(Frame(8, 1920, 1080, 7680));
  ring.Write(Frame(13, 2, 2, 8));
  ring.index = 0;
  for (int32_t k = 0; k < 2; ++k) {
    const RingRead r = ring.Read();
    ASSERT_EQ(r.status, RingRead::kRead) << r.error;
    EXPECT_EQ(r.slot, k);
    for (uint8_t* d : ring.out.data) EXPECT_EQ(d, nullptr);
  }
  EXPECT_EQ(ring.index, 2);
}

TEST(RingReadVideo, LateReaderStartsAtTheSlotWrittenLast) {
  SmallRing ring(RingKind::kVideo);
  for (uint64_t i = 1; i <= 5; ++i) ring.Write(Tiny(i));  // last in slot 1
  EXPECT_EQ(ring.ReadStamp(), 5u);
  EXPECT_EQ(ring.ReadStamp(), 3u) << "video reads on into slots already overwritten";
  EXPECT_EQ(ring.index, 0);
}

TEST(RingReadVideo, NegativeLastIndexCountsFromTheEnd) {
  SmallRing ring(RingKind::kVideo);
  for (uint64_t i = 1; i <= 3; ++i) ring.Write(Tiny(i));
  ring.SetU32(kHeaderLastIndex, static_cast<uint32_t>(-1));
  const RingRead r = ring.Read();
  ASSERT_EQ(r.status, RingRead::kRead);
  EXPECT_EQ(r.slot, 2);
  EXPECT_EQ(ring.out.timestamp, 3u);
}

TEST(RingReadVideo, PaddedSourceArrivesWithTheRowWidthsItLiesAtInTheSlot) {
  // A two-plane 4 x 2 frame from a decoder that pads its rows to 16 bytes.
  std::vector<uint8_t> y(32), uv(16);
  for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<uint8_t>(i);
  for (size_t i = 0; i < uv.size(); ++i) uv[i] = static_cast<uint8_t>(100 + i);
  MediaPacket frame = Frame(3, 4, 2, 16);
  frame.data[0] = y.data();
  frame.data[1] = uv.data();
  SmallRing ring(RingKind::kVideo);
  ring.Write(frame);
  ASSERT_EQ(ring.Read().status, RingRead::kRead);
  const MediaPacket& out = ring.out;
  EXPECT_EQ(out.linesize[0], 4);
  EXPECT_EQ(out.linesize[1], 4);
  EXPECT_EQ(out.linesize[2], 16) << "a plane the format lacks keeps what was stored";
  // Row 1 read at the delivered stride is the source's row 1, not sheared.
  EXPECT_EQ(std::vector<uint8_t>(out.data[0] + out.linesize[0], out.data[0] + 2 * out.linesize[0]),
            std::vector<uint8_t>(y.begin() + 16, y.begin() + 20));
  EXPECT_EQ(out.data[1][0], 100);
}

// The wake-up a client gives the reader when it goes away comes without a
// write: nothing already delivered, and no slot never written, goes out.
TEST(RingReadVideo, OnlySlotsWrittenSinceTheLastDeliveryAreDelivered) {
  SmallRing ring(RingKind::kVideo);
  Quenlo::RingDelivery delivered;
  EXPECT_EQ(ring.Read(&delivered).status, RingRead::kNothingToRead)
      << "a ring made but never written";
  EXPECT_EQ(ring.index, -1);

  ring.Write(Tiny(1));
  ring.Write(Tiny(2));
  EXPECT_EQ(ring.ReadStamp(&delivered), 2u) << "a late reader starts at the newest slot";
  EXPECT_EQ(ring.Read(&delivered).status, RingRead::kNothingToRead) << "a wake-up without a write";
  EXPECT_EQ(ring.index, 2);
  ring.Write(Tiny(3));
  EXPECT_EQ(ring.ReadStamp(&delivered), 3u);
  // The writer going exactly once round the ring still counts as written.
  for (uint64_t stamp = 4; stamp <= 6; ++stamp) ring.Write(Tiny(stamp));
  for (uint64_t stamp = 4; stamp <= 6; ++stamp) EXPECT_EQ(ring.ReadStamp(&delivered), stamp);
  EXPECT_EQ(ring.Read(&delivered).status, RingRead::kNothingToRead);
}

// --- Audio: every written slot is read exactly once ---

TEST(RingReadAudio, EachWrittenSlotIsReadOnceAndAtOnce) {
  SmallRing ring(RingKind::kAudio);
  for (uint64_t stamp = 1; stamp <= 7; ++stamp) {
    const int32_t slot = ring.Write(Sound(64, stamp));
    const RingRead r = ring.Read();
    ASSERT_EQ(r.status, RingRead::kRead) << "packet " << stamp << ": " << r.error;
    EXPECT_EQ(r.slot, slot);
    EXPECT_EQ(ring.out.timestamp, stamp);
    EXPECT_EQ(ring.out.data[0], ring.slot(slot) + kRecord);
    EXPECT_EQ(ring.out.data[1], nullptr);
    EXPECT_EQ(ring.Read().status, RingRead::kNothingToRead) << "packet " << stamp;
  }
}

TEST(RingReadAudio, QueuedPacketsAreReadInOrderThenNothing) {
  SmallRing ring(RingKind::kAudio);
  ring.Write(Sound(8, 1));
  EXPECT_EQ(ring.ReadStamp(), 1u);
  ring.Write(Sound(8, 2));
  ring.Write(Sound(8, 3));
  EXPECT_EQ(ring.ReadStamp(), 2u);
  EXPECT_EQ(ring.ReadStamp(), 3u);
  EXPECT_EQ(ring.Read().status, RingRead::kNothingToRead);
}

TEST(RingReadAudio, FreshReaderTakesOnlyTheNewestSlot) {
  SmallRing ring(RingKind::kAudio);
  for (uint64_t i = 1; i <= 3; ++i) ring.Write(Sound(8, i));
  EXPECT_EQ(ring.ReadStamp(), 3u);
  EXPECT_EQ(ring.Read().status, RingRead::kNothingToRead);
  EXPECT_EQ(ring.Read().status, RingRead::kNothingToRead);
}

// --- Hostile rings: refused before any pointer is formed ---

constexpr size_t kSlot0 = kHeader;
using Pokes = std::vector<std::pair<size_t, uint32_t>>;  // (offset in the mapping, u32)

// A video ring of 1024-byte slots (a 4816-byte mapping) holding a 2 x 2
// frame in slot 0, spoilt by `pokes`, read by a reader at `index_before`.
void ExpectRefused(const char* name, const Pokes& pokes, int32_t index_before,
                   const std::string& error, int32_t index_after) {
  SmallRing ring(RingKind::kVideo);
  ring.Write(Tiny(0));
  for (const auto& [offset, value] : pokes) ring.SetU32(offset, value);
  ring.index = index_before;
  std::memset(&ring.out, 0x77, sizeof(ring.out));
  const RingRead r = ring.Read();
  EXPECT_EQ(r.status, RingRead::kRejected) << name;
  EXPECT_EQ(r.error, error) << name;
  EXPECT_EQ(r.plane_count, 0u) << name;
  for (uint8_t* d : ring.out.data) EXPECT_EQ(d, nullptr) << name;
  EXPECT_EQ(ring.index, index_after) << name;
}

TEST(RingReadHostile, EveryImpossibleValueIsRefused) {
  ExpectRefused("no slots", {{kHeaderSlotCount, 0}}, -1,
                "Failed to ReadPacket(invalid ring header(1192,0,4816))", -1);
  ExpectRefused("slot smaller than a record", {{kHeaderSlotSize, 167}}, 1,
                "Failed to ReadPacket(invalid ring header(167,3,4816))", -1);
  ExpectRefused("slots past the mapping", {{kHeaderSlotCount, 5}}, -1,
                "Failed to ReadPacket(invalid ring header(1192,5,4816))", -1);
  ExpectRefused("slot size times count wraps in 32 bits",
                {{kHeaderSlotSize, 0x80000000u}, {kHeaderSlotCount, 2}}, -1,
                "Failed to ReadPacket(invalid ring header(2147483648,2,4816))", -1);
  ExpectRefused("largest values", {{kHeaderSlotSize, 0xFFFFFFFFu}, {kHeaderSlotCount, 0xFFFFFFFFu}},
                -1, "Failed to ReadPacket(invalid ring header(4294967295,4294967295,4816))", -1);
  ExpectRefused("lastIndex past the slots", {{kHeaderLastIndex, 3}}, -1,
                "Failed to ReadPacket(invalid lastIndex(3,3))", -1);
  ExpectRefused("lastIndex too negative", {{kHeaderLastIndex, static_cast<uint32_t>(-4)}}, -1,
                "Failed to ReadPacket(invalid lastIndex(-4,3))", -1);
  ExpectRefused("lastIndex lowest int", {{kHeaderLastIndex, 0x80000000u}}, -1,
                "Failed to ReadPacket(invalid lastIndex(-2147483648,3))", -1);
  ExpectRefused("ring shrank under the reader", {{kHeaderSlotCount, 2}}, 2,
                "Failed to ReadPacket(invalid index(2,2))", -1);
  ExpectRefused("pixel count wraps in 32 bits", {{kSlot0 + 16, 65536}, {kSlot0 + 20, 65536}}, 0,
                "Failed to ReadPacket(invalid video size(65536,65536)", 1);
  ExpectRefused("stride row past the slot", {{kSlot0 + 120, 600}}, 0,
                "Failed to ReadPacket(video frame too large(1200,1024))", 1);
  ExpectRefused("negative stride", {{kSlot0 + 120, static_cast<uint32_t>(-8)}}, 0,
                "Failed to ReadPacket(invalid stride(0,-8))", 1);
  ExpectRefused("planar rows past the slot (format 1, 2 x 1024)",
                {{kSlot0 + 36, 1}, {kSlot0 + 20, 1024}}, 0,
                "Failed to ReadPacket(video frame too large(3072,1024))", 1);
}

TEST(RingReadHostile, MappingShorterThanAHeader) {
  uint8_t bytes[20] = {};
  int32_t index = -1;
  MediaPacket out;
  const RingRead r = Quenlo::ReadRingSlot(bytes, sizeof(bytes), RingKind::kVideo, &index, &out);
  EXPECT_EQ(r.status, RingRead::kRejected);
  EXPECT_EQ(r.error, "Failed to ReadPacket(invalid ring header(0,0,20))");
}

// An oversized audio record is no longer skipped: a writer that truncates
// what does not fit is heard, with the size clamped to what the slot holds.
TEST(RingReadHostile, OversizedAudioIsSkippedAndTheNextSlotStillRead) {
  SmallRing ring(RingKind::kAudio, 256);
  ring.Write(Sound(8, 1));
  EXPECT_EQ(ring.ReadStamp(), 1u);
  ring.Write(Sound(8, 2));
  Quenlo::StoreU32(ring.slot(1) + 152, 0xFFFFFFFFu);
  const RingRead clamped = ring.Read();
  ASSERT_EQ(clamped.status, RingRead::kRead) << clamped.error;
  EXPECT_EQ(clamped.slot, 1);
  EXPECT_EQ(ring.out.audio_bytes, 256u);
  EXPECT_EQ(ring.out.data[0], ring.slot(1) + kRecord);
  EXPECT_EQ(clamped.planes[0].Reach(), 256u);
  ring.Write(Sound(8, 3));
  EXPECT_EQ(ring.ReadStamp(), 3u);
}

TEST(RingReadHostile, GeometryIsJudgedByTheMappingNotByTheConstants) {
  ExpectRefused("a header that claims the real video slot size over a small mapping",
                {{kHeaderSlotSize, Quenlo::kVideoSlotSize}}, -1,
                "Failed to ReadPacket(invalid ring header(8294568,3,4816))", -1);
}

}  // namespace
