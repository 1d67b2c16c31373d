#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Quenlo/layout/RingLayout.h"
#include "Quenlo/layout/RingSlotReader.h"
#include "Quenlo/layout/RingSlotWriter.h"

namespace {

using Quenlo::RingKind;
using Quenlo::RingRead;

constexpr uint32_t kRecord = Quenlo::kPacketRecordSize;
constexpr uint32_t kHeader = Quenlo::kRingHeaderSize;

// A small ring written the way the writer writes one (three slots of
// `capacity` payload bytes plus the unused fourth), so that round trips
// and hostile headers can be tried without 33 MB mappings.
class SmallRing {
 public:
  explicit SmallRing(RingKind kind, uint32_t capacity = 1024)
      : kind_(kind),
        slot_size_(kRecord + capacity),
        bytes_(kHeader + Quenlo::kRingSlotRoom * slot_size_, 0) {
    MediaPacket first;
    std::memset(&first, 0, sizeof(first));
    Quenlo::WriteRingHeader(base(), kind, first);
    Quenlo::StoreU32(base() + Quenlo::kHeaderSlotSize, slot_size_);
  }

  uint8_t* base() { return bytes_.data(); }
  size_t size() const { return bytes_.size(); }
  uint8_t* slot(uint32_t k) { return base() + kHeader + k * slot_size_; }
  uint32_t slot_size() const { return slot_size_; }

  // Stores and commits a packet as the writer does; returns the slot used.
  int32_t Write(const MediaPacket& p) {
    const int32_t used = writer_index_;
    EXPECT_EQ(Quenlo::StorePacket(slot(used), slot_size_ - kRecord, p), "");
    Quenlo::CommitSlot(base(), 1, &writer_index_);
    return used;
  }

  RingRead Read(int32_t* index, MediaPacket* out, Quenlo::RingDelivery* delivered = nullptr) {
    return Quenlo::ReadRingSlot(base(), size(), kind_, index, out, delivered);
  }

  void SetU32(size_t offset, uint32_t value) { Quenlo::StoreU32(base() + offset, value); }

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
  int32_t index = -1;
  MediaPacket out;
  const RingRead r = ring.Read(&index, &out);
  ASSERT_EQ(r.status, RingRead::kRead) << r.error;
  const uint8_t* payload = ring.slot(0) + kRecord;
  EXPECT_EQ(out.data[0], payload);
  EXPECT_EQ(out.data[1], payload + 256);
  EXPECT_EQ(out.data[2], payload + 256 + 64);
  for (int i = 3; i < 8; ++i) EXPECT_EQ(out.data[i], nullptr) << "pointer " << i;
  EXPECT_EQ(out.linesize[0], 16) << "strides are the row widths in the slot";
  EXPECT_EQ(out.linesize[1], 8) << "strides are the row widths in the slot";
  EXPECT_EQ(out.linesize[2], 8);
  EXPECT_EQ(out.timestamp, 77u);
  EXPECT_EQ(out.width, 16u);
  EXPECT_EQ(r.plane_count, 3u);
  EXPECT_EQ(index, 1);
}

TEST(RingReadVideo, FormatWithoutPayloadAdvancesAndFormsNoPointer) {
  SmallRing ring(RingKind::kVideo);
  ring.Write(Frame(8, 1920, 1080, 7680));
  ring.Write(Frame(13, 2, 2, 8));
  int32_t index = 0;
  MediaPacket out;
  for (int32_t k = 0; k < 2; ++k) {
    const RingRead r = ring.Read(&index, &out);
    ASSERT_EQ(r.status, RingRead::kRead) << r.error;
    EXPECT_EQ(r.slot, k);
    for (uint8_t* d : out.data) EXPECT_EQ(d, nullptr);
  }
  EXPECT_EQ(index, 2);
}

TEST(RingReadVideo, LateReaderStartsAtTheSlotWrittenLast) {
  SmallRing ring(RingKind::kVideo);
  for (uint64_t i = 1; i <= 5; ++i) ring.Write(Frame(12, 2, 2, 8, i));  // last in slot 1
  int32_t index = -1;
  MediaPacket out;
  ASSERT_EQ(ring.Read(&index, &out).status, RingRead::kRead);
  EXPECT_EQ(out.timestamp, 5u);
  ASSERT_EQ(ring.Read(&index, &out).status, RingRead::kRead);
  EXPECT_EQ(out.timestamp, 3u) << "video reads on into slots already overwritten";
  EXPECT_EQ(index, 0);
}

TEST(RingReadVideo, NegativeLastIndexCountsFromTheEnd) {
  SmallRing ring(RingKind::kVideo);
  for (uint64_t i = 1; i <= 3; ++i) ring.Write(Frame(12, 2, 2, 8, i));
  ring.SetU32(Quenlo::kHeaderLastIndex, static_cast<uint32_t>(-1));
  int32_t index = -1;
  MediaPacket out;
  const RingRead r = ring.Read(&index, &out);
  ASSERT_EQ(r.status, RingRead::kRead);
  EXPECT_EQ(r.slot, 2);
  EXPECT_EQ(out.timestamp, 3u);
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
  int32_t index = -1;
  MediaPacket out;
  ASSERT_EQ(ring.Read(&index, &out).status, RingRead::kRead);
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
  int32_t index = -1;
  Quenlo::RingDelivery delivered;
  MediaPacket out;
  EXPECT_EQ(ring.Read(&index, &out, &delivered).status, RingRead::kNothingToRead)
      << "a ring made but never written";
  EXPECT_EQ(index, -1);

  ring.Write(Frame(12, 2, 2, 8, 1));
  ring.Write(Frame(12, 2, 2, 8, 2));
  ASSERT_EQ(ring.Read(&index, &out, &delivered).status, RingRead::kRead);
  EXPECT_EQ(out.timestamp, 2u) << "a late reader starts at the newest slot";
  EXPECT_EQ(ring.Read(&index, &out, &delivered).status, RingRead::kNothingToRead)
      << "a wake-up without a write";
  EXPECT_EQ(index, 2);
  ring.Write(Frame(12, 2, 2, 8, 3));
  ASSERT_EQ(ring.Read(&index, &out, &delivered).status, RingRead::kRead);
  EXPECT_EQ(out.timestamp, 3u);
  // The writer going exactly once round the ring still counts as written.
  for (uint64_t stamp = 4; stamp <= 6; ++stamp) ring.Write(Frame(12, 2, 2, 8, stamp));
  for (uint64_t stamp = 4; stamp <= 6; ++stamp) {
    ASSERT_EQ(ring.Read(&index, &out, &delivered).status, RingRead::kRead) << stamp;
    EXPECT_EQ(out.timestamp, stamp);
  }
  EXPECT_EQ(ring.Read(&index, &out, &delivered).status, RingRead::kNothingToRead);
}

// --- Audio: every written slot is read exactly once ---

TEST(RingReadAudio, EachWrittenSlotIsReadOnceAndAtOnce) {
  SmallRing ring(RingKind::kAudio);
  int32_t index = -1;
  MediaPacket out;
  for (uint64_t stamp = 1; stamp <= 7; ++stamp) {
    const int32_t slot = ring.Write(Sound(64, stamp));
    const RingRead r = ring.Read(&index, &out);
    ASSERT_EQ(r.status, RingRead::kRead) << "packet " << stamp << ": " << r.error;
    EXPECT_EQ(r.slot, slot);
    EXPECT_EQ(out.timestamp, stamp);
    EXPECT_EQ(out.data[0], ring.slot(slot) + kRecord);
    EXPECT_EQ(out.data[1], nullptr);
    EXPECT_EQ(ring.Read(&index, &out).status, RingRead::kNothingToRead) << "packet " << stamp;
  }
}

TEST(RingReadAudio, QueuedPacketsAreReadInOrderThenNothing) {
  SmallRing ring(RingKind::kAudio);
  int32_t index = -1;
  MediaPacket out;
  ring.Write(Sound(8, 1));
  ASSERT_EQ(ring.Read(&index, &out).status, RingRead::kRead);
  ring.Write(Sound(8, 2));
  ring.Write(Sound(8, 3));
  ASSERT_EQ(ring.Read(&index, &out).status, RingRead::kRead);
  EXPECT_EQ(out.timestamp, 2u);
  ASSERT_EQ(ring.Read(&index, &out).status, RingRead::kRead);
  EXPECT_EQ(out.timestamp, 3u);
  EXPECT_EQ(ring.Read(&index, &out).status, RingRead::kNothingToRead);
}

TEST(RingReadAudio, FreshReaderTakesOnlyTheNewestSlot) {
  SmallRing ring(RingKind::kAudio);
  for (uint64_t i = 1; i <= 3; ++i) ring.Write(Sound(8, i));
  int32_t index = -1;
  MediaPacket out;
  ASSERT_EQ(ring.Read(&index, &out).status, RingRead::kRead);
  EXPECT_EQ(out.timestamp, 3u);
  EXPECT_EQ(ring.Read(&index, &out).status, RingRead::kNothingToRead);
  EXPECT_EQ(ring.Read(&index, &out).status, RingRead::kNothingToRead);
}

// --- Hostile rings: refused before any pointer is formed ---

struct Hostile {
  const char* name;
  std::function<void(SmallRing&)> spoil;
  int32_t index_before;
  std::string error;  // "%S" stands for the mapping size
  int32_t index_after;
};

TEST(RingReadHostile, EveryImpossibleValueIsRefused) {
  const std::vector<Hostile> cases = {
      {"no slots", [](SmallRing& r) { r.SetU32(Quenlo::kHeaderSlotCount, 0); }, -1,
       "Failed to ReadPacket(invalid ring header(1192,0,%S))", -1},
      {"slot smaller than a record", [](SmallRing& r) { r.SetU32(Quenlo::kHeaderSlotSize, 167); },
       1, "Failed to ReadPacket(invalid ring header(167,3,%S))", -1},
      {"slots past the mapping", [](SmallRing& r) { r.SetU32(Quenlo::kHeaderSlotCount, 5); }, -1,
       "Failed to ReadPacket(invalid ring header(1192,5,%S))", -1},
      {"slot size times count wraps in 32 bits",
       [](SmallRing& r) {
         r.SetU32(Quenlo::kHeaderSlotSize, 0x80000000u);
         r.SetU32(Quenlo::kHeaderSlotCount, 2);
       },
       -1, "Failed to ReadPacket(invalid ring header(2147483648,2,%S))", -1},
      {"largest values",
       [](SmallRing& r) {
         r.SetU32(Quenlo::kHeaderSlotSize, 0xFFFFFFFFu);
         r.SetU32(Quenlo::kHeaderSlotCount, 0xFFFFFFFFu);
       },
       -1, "Failed to ReadPacket(invalid ring header(4294967295,4294967295,%S))", -1},
      {"lastIndex past the slots", [](SmallRing& r) { r.SetU32(Quenlo::kHeaderLastIndex, 3); }, -1,
       "Failed to ReadPacket(invalid lastIndex(3,3))", -1},
      {"lastIndex too negative",
       [](SmallRing& r) { r.SetU32(Quenlo::kHeaderLastIndex, static_cast<uint32_t>(-4)); }, -1,
       "Failed to ReadPacket(invalid lastIndex(-4,3))", -1},
      {"lastIndex lowest int",
       [](SmallRing& r) { r.SetU32(Quenlo::kHeaderLastIndex, 0x80000000u); }, -1,
       "Failed to ReadPacket(invalid lastIndex(-2147483648,3))", -1},
      {"ring shrank under the reader", [](SmallRing& r) { r.SetU32(Quenlo::kHeaderSlotCount, 2); },
       2, "Failed to ReadPacket(invalid index(2,2))", -1},
      {"pixel count wraps in 32 bits",
       [](SmallRing& r) {
         Quenlo::StoreU32(r.slot(0) + 16, 65536);
         Quenlo::StoreU32(r.slot(0) + 20, 65536);
       },
       0, "Failed to ReadPacket(invalid video size(65536,65536)", 1},
      {"stride row past the slot", [](SmallRing& r) { Quenlo::StoreU32(r.slot(0) + 120, 600); }, 0,
       "Failed to ReadPacket(video frame too large(1200,1024))", 1},
      {"negative stride",
       [](SmallRing& r) { Quenlo::StoreU32(r.slot(0) + 120, static_cast<uint32_t>(-8)); }, 0,
       "Failed to ReadPacket(invalid stride(0,-8))", 1},
      {"planar rows past the slot",
       [](SmallRing& r) {
         Quenlo::StoreU32(r.slot(0) + 36, 1);  // format 1, 2 x 1024
         Quenlo::StoreU32(r.slot(0) + 20, 1024);
       },
       0, "Failed to ReadPacket(video frame too large(3072,1024))", 1},
  };
  for (const Hostile& c : cases) {
    SmallRing ring(RingKind::kVideo);
    ring.Write(Frame(12, 2, 2, 8));
    c.spoil(ring);
    int32_t index = c.index_before;
    MediaPacket out;
    std::memset(&out, 0x77, sizeof(out));
    const RingRead r = ring.Read(&index, &out);
    std::string error = c.error;
    const size_t at = error.find("%S");
    if (at != std::string::npos) error.replace(at, 2, std::to_string(ring.size()));
    EXPECT_EQ(r.status, RingRead::kRejected) << c.name;
    EXPECT_EQ(r.error, error) << c.name;
    EXPECT_EQ(r.plane_count, 0u) << c.name;
    for (uint8_t* d : out.data) EXPECT_EQ(d, nullptr) << c.name;
    EXPECT_EQ(index, c.index_after) << c.name;
  }
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
  int32_t index = -1;
  MediaPacket out;
  ring.Write(Sound(8, 1));
  ASSERT_EQ(ring.Read(&index, &out).status, RingRead::kRead);
  ring.Write(Sound(8, 2));
  Quenlo::StoreU32(ring.slot(1) + 152, 0xFFFFFFFFu);
  const RingRead clamped = ring.Read(&index, &out);
  ASSERT_EQ(clamped.status, RingRead::kRead) << clamped.error;
  EXPECT_EQ(clamped.slot, 1);
  EXPECT_EQ(out.audio_bytes, 256u);
  EXPECT_EQ(out.data[0], ring.slot(1) + kRecord);
  EXPECT_EQ(clamped.planes[0].Reach(), 256u);
  ring.Write(Sound(8, 3));
  ASSERT_EQ(ring.Read(&index, &out).status, RingRead::kRead);
  EXPECT_EQ(out.timestamp, 3u);
}

TEST(RingReadHostile, GeometryIsJudgedByTheMappingNotByTheConstants) {
  // A header that claims the real video slot size over a small mapping.
  SmallRing ring(RingKind::kVideo);
  ring.Write(Frame(12, 2, 2, 8));
  ring.SetU32(Quenlo::kHeaderSlotSize, Quenlo::kVideoSlotSize);
  int32_t index = -1;
  MediaPacket out;
  EXPECT_EQ(ring.Read(&index, &out).status, RingRead::kRejected);
}

}  // namespace
