#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "Quenlo/layout/RingLayout.h"
#include "Quenlo/layout/VideoPlanes.h"

namespace {

using Quenlo::ComputeVideoPlanes;
using Quenlo::VideoPlanes;

// Odd sizes make every halving and every rounding visible:
// w/2 = 16, h/2 = 8, A = 561 -> 576, Q = 128, H = 272 -> 288, 2wh = 1122 -> 1152.
constexpr uint32_t kW = 33;
constexpr uint32_t kH = 17;

VideoPlanes Table(uint32_t format, uint32_t stride0 = 0, bool flip = false) {
  VideoPlanes planes;
  EXPECT_TRUE(ComputeVideoPlanes(format, kW, kH, stride0, flip, &planes)) << "format " << format;
  return planes;
}

// Each plane as (offset, row bytes, rows).
using Row = std::array<uint64_t, 3>;

void ExpectPlanes(uint32_t format, const std::vector<Row>& expected, uint32_t stride0 = 0) {
  const VideoPlanes t = Table(format, stride0);
  std::vector<Row> got;
  for (uint32_t i = 0; i < t.count; ++i)
    got.push_back({t.plane[i].offset, t.plane[i].row_bytes, t.plane[i].rows});
  EXPECT_EQ(got, expected) << "format " << format;
}

// --- Every format group: offsets, row widths, rows, 32-byte rounding ---

TEST(VideoPlaneTable, ThreePlaneHalfSizeFormats) {
  for (uint32_t f : {1u, 2u}) ExpectPlanes(f, {{0, 33, 17}, {576, 16, 8}, {704, 16, 8}});
}

TEST(VideoPlaneTable, TwoPlaneHalfHeightFormats) {
  for (uint32_t f : {3u, 4u, 22u}) ExpectPlanes(f, {{0, 33, 17}, {576, 33, 8}});
}

TEST(VideoPlaneTable, PackedTwoBytePixelFormats) {
  for (uint32_t f : {5u, 6u, 19u}) ExpectPlanes(f, {{0, 66, 17}});
}

TEST(VideoPlaneTable, StrideFormatsTakeTheirRowWidthFromPlaneZeroStride) {
  for (uint32_t f : {7u, 10u, 12u}) ExpectPlanes(f, {{0, 140, 17}}, 140);
}

TEST(VideoPlaneTable, PackedThreeBytePixelFormats) {
  for (uint32_t f : {9u, 11u}) ExpectPlanes(f, {{0, 99, 17}});
}

TEST(VideoPlaneTable, FullSizePlanarFormats) {
  ExpectPlanes(14, {{0, 33, 17}, {576, 33, 17}, {1152, 33, 17}});
  ExpectPlanes(15, {{0, 33, 17}, {576, 33, 17}, {1152, 33, 17}, {1728, 33, 17}});
}

TEST(VideoPlaneTable, HalfSizeFormatWithAlphaPlane) {
  ExpectPlanes(16, {{0, 33, 17}, {576, 16, 8}, {704, 16, 8}, {832, 33, 17}});
}

TEST(VideoPlaneTable, HalfWidthFormats) {
  ExpectPlanes(17, {{0, 33, 17}, {576, 16, 17}, {864, 16, 17}});
  ExpectPlanes(18, {{0, 33, 17}, {576, 16, 17}, {864, 16, 17}, {1152, 33, 17}});
}

TEST(VideoPlaneTable, TwoBytePlanesWithHalfHeightSecondPlane) {
  for (uint32_t f : {20u, 21u, 23u, 24u}) ExpectPlanes(f, {{0, 66, 17}, {1152, 66, 8}});
}

TEST(VideoPlaneTable, FormatsWithoutPayload) {
  for (uint32_t f : {0u, 8u, 13u, 25u, 100u, 0xFFFFFFFFu})
    EXPECT_EQ(Table(f, 140, true).count, 0u) << "format " << f;
}

TEST(VideoPlaneTable, RoundingKeepsExactMultiplesOf32) {
  VideoPlanes planes;
  ASSERT_TRUE(ComputeVideoPlanes(1, 64, 32, 0, false, &planes));
  EXPECT_EQ(planes.plane[1].offset, 2048u);         // A = 2048 exactly
  EXPECT_EQ(planes.plane[2].offset, 2048u + 512u);  // Q = 512 exactly
  EXPECT_EQ(Quenlo::RoundUp32(0), 0u);
  EXPECT_EQ(Quenlo::RoundUp32(1), 32u);
  EXPECT_EQ(Quenlo::RoundUp32(33), 64u);
  EXPECT_EQ(Quenlo::RoundUp32(std::numeric_limits<uint64_t>::max()),
            std::numeric_limits<uint64_t>::max() & ~uint64_t{31});
}

// --- The flip flag: honoured only by the packed formats that allow it ---

TEST(VideoPlaneFlip, OnlyStrideAndThreeByteFormatsFlip) {
  for (uint32_t f = 0; f <= 25; ++f) {
    const bool flippable = f == 7 || f == 9 || f == 10 || f == 11 || f == 12;
    EXPECT_EQ(Table(f, 140, true).flip, flippable) << "format " << f;
  }
  EXPECT_FALSE(Table(12, 140, false).flip);
}

// --- Pixel-count bound in 64 bits ---

TEST(VideoPlaneBounds, LargestFrameFillsTheSlotExactly) {
  VideoPlanes planes;
  ASSERT_TRUE(ComputeVideoPlanes(15, 1920, 1080, 0, false, &planes));
  EXPECT_EQ(planes.plane[3].offset + planes.plane[3].row_bytes * planes.plane[3].rows,
            Quenlo::kVideoPayloadSize);
  ASSERT_TRUE(ComputeVideoPlanes(12, 1920, 1080, 7680, false, &planes));
}

TEST(VideoPlaneBounds, MorePixelsThanOneFullHdFrameAreRefused) {
  VideoPlanes planes;
  EXPECT_FALSE(ComputeVideoPlanes(12, 1921, 1080, 7684, false, &planes));
  EXPECT_EQ(planes.count, 0u);
  // 65536 x 65536 is 0 in a 32-bit product.
  EXPECT_FALSE(ComputeVideoPlanes(12, 65536, 65536, 0, false, &planes));
  EXPECT_FALSE(ComputeVideoPlanes(1, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, false, &planes));
  EXPECT_FALSE(ComputeVideoPlanes(8, 65536, 65536, 0, false, &planes));
  // No rows, but rows wider than a stride can say (found by the fuzzer).
  EXPECT_FALSE(ComputeVideoPlanes(3, 0xF9030000u, 0, 0, false, &planes));
  EXPECT_FALSE(ComputeVideoPlanes(12, 0, 2073601, 0, false, &planes));
  EXPECT_TRUE(ComputeVideoPlanes(9, 2073600, 0, 0, false, &planes));
}

TEST(VideoPlaneBounds, ReachCountsStoredRowsAndRowsReadWithTheStride) {
  EXPECT_EQ(Quenlo::PlaneReach({0, 10, 4}, 10), 40u);
  EXPECT_EQ(Quenlo::PlaneReach({0, 10, 4}, 100), 310u);  // 3 strides + one row
  EXPECT_EQ(Quenlo::PlaneReach({0, 10, 4}, 2), 40u);     // short strides read less than stored
  EXPECT_EQ(Quenlo::PlaneReach({0, 10, 0}, 100), 0u);
  EXPECT_EQ(Quenlo::PlaneReach({0, 1, 0xFFFFFFFFull}, 0x7FFFFFFF),
            0xFFFFFFFEull * 0x7FFFFFFFull + 1);
  EXPECT_EQ(Quenlo::SaturatingMul(1ull << 40, 1ull << 40), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(Quenlo::SaturatingAdd(std::numeric_limits<uint64_t>::max(), 1),
            std::numeric_limits<uint64_t>::max());
}

}  // namespace
