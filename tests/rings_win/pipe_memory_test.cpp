#include <windows.h>

#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "BrisqFramework/Common/BrisqRefCount.h"
#include "BrisqFramework/IO/BrisqSharedMemory.h"
#include "Quenlo/ChannelObjectNames.h"
#include "Quenlo/PipeMemoryAudio.h"
#include "Quenlo/PipeMemoryVideo.h"
#include "Quenlo/layout/RingLayout.h"
#include "tests/rings_win/global_mapping_seam.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/unique_name.h"

namespace Quenlo {
namespace {

using BrisqFramework::BrisqAnsiFromWide;
using BrisqFramework::BrisqRef;
using BrisqFramework::MakeBrisqRef;
using test_support::LogCapture;
using test_support::LogClock;
using Lines = std::vector<test_support::LogMessage>;  // (severity, message)

std::wstring UniquePipe() { return test_support::UniqueName(L"ring"); }

// A packed 4-byte frame (format 12) whose byte at (row, x) is Pixel(row, x).
uint8_t Pixel(uint32_t row, uint32_t x) { return static_cast<uint8_t>(row * 7 + x); }

struct Frame {
  std::vector<uint8_t> pixels;
  MediaPacket packet;
};

Frame MakeFrame(uint32_t w, uint32_t h, bool flip = false) {
  Frame f;
  const uint32_t stride = w * 4;
  f.pixels.resize(static_cast<size_t>(stride) * h + 1);
  for (uint32_t r = 0; r < h; ++r)
    for (uint32_t x = 0; x < stride; ++x) f.pixels[size_t(r) * stride + x] = Pixel(r, x);
  std::memset(&f.packet, 0, sizeof(f.packet));
  f.packet.kind = MEDIA_PACKET_VIDEO;
  f.packet.width = w;
  f.packet.height = h;
  f.packet.format = 12;
  f.packet.flip = flip ? 1 : 0;
  f.packet.video_info0 = 0xC0DE;
  f.packet.video_info1 = 30;
  f.packet.data[0] = f.pixels.data();
  f.packet.linesize[0] = static_cast<int32_t>(stride);
  return f;
}

MediaPacket Audio(std::vector<uint8_t>& samples, uint64_t stamp) {
  MediaPacket p;
  std::memset(&p, 0, sizeof(p));
  p.kind = MEDIA_PACKET_AUDIO;
  p.width = 44100;
  p.data[0] = samples.data();
  p.audio_bytes = static_cast<uint32_t>(samples.size());
  p.timestamp = stamp;
  return p;
}

RingHeader HeaderOf(const PipeMemory& memory) { return LoadRingHeader(memory.Header()); }

const uint8_t* SlotPayload(const PipeMemory& memory, uint32_t slot, RingKind kind) {
  return memory.Header() + kRingHeaderSize + size_t(slot) * RingSlotSize(kind) + kPacketRecordSize;
}

// Little-endian reads at a byte offset, for the tests that pin the layout
// with the peer's literal numbers rather than the code's constants.
template <typename T>
T At(const uint8_t* base, size_t offset) {
  T v;
  std::memcpy(&v, base + offset, sizeof(v));
  return v;
}

// Each (offset, value) a u32 at `base`.
void ExpectFields(const uint8_t* base, std::initializer_list<std::pair<size_t, uint32_t>> fields,
                  const char* what) {
  for (const auto& [offset, value] : fields)
    EXPECT_EQ(At<uint32_t>(base, offset), value) << what << " offset " << offset;
}

// --- Child process role -------------------------------------------------------------
//
// "--ring-child video-read <pipe name> <width> <height>": opens channel 0's
// video ring of the pipe as the server would, reads one packet and checks
// every byte of the frame the parent wrote. Runs before GoogleTest's main
// and ends the process with its code.

int RunChildRole(int argc, LPWSTR* argv) {
  if (argc != 6 || std::wstring(argv[2]) != L"video-read") return 90;
  const std::wstring name = PipeMemoryVideo::MappingName(0, argv[3]);
  const uint32_t w = static_cast<uint32_t>(_wtoi(argv[4]));
  const uint32_t h = static_cast<uint32_t>(_wtoi(argv[5]));
  BrisqRef<PipeMemoryVideo> reader = MakeBrisqRef<PipeMemoryVideo>(name.c_str());
  if (!reader->Open()) return 10;
  MediaPacket packet;
  if (!reader->ReadPacket(&packet)) return 11;
  if (packet.width != w || packet.height != h || packet.format != 12) return 12;
  if (packet.timestamp != 0x1234567890ull || packet.linesize[0] != int32_t(w * 4)) return 13;
  if (std::memcmp(packet.data[0], MakeFrame(w, h).pixels.data(), size_t{w} * h * 4) != 0) return 14;
  if (HeaderOf(*reader).info0 != 0xC0DE) return 15;
  return 0;
}

int CheckChildRole() {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv != nullptr && argc >= 2 && std::wstring(argv[1]) == L"--ring-child") {
    ::ExitProcess(static_cast<UINT>(RunChildRole(argc, argv)));
  }
  if (argv != nullptr) ::LocalFree(argv);
  return 0;
}
[[maybe_unused]] const int g_child_role_checked = CheckChildRole();

// --- Names and lifecycle ---------------------------------------------------------------

TEST(PipeMemoryNames, ChannelIndexAndPipeNameEndTheName) {
  EXPECT_EQ(PipeMemoryVideo::MappingName(0, L"abc"), L"Global\\PIPE_VIDEO_0_abc");
  EXPECT_EQ(PipeMemoryAudio::MappingName(12, L"p"), L"Global\\PIPE_AUDIO_12_p");
  EXPECT_EQ(PipeMemoryVideo::MappingName(1, nullptr), L"Global\\PIPE_VIDEO_1_");
  BrisqRef<PipeMemoryVideo> unnamed = MakeBrisqRef<PipeMemoryVideo>(nullptr);
  EXPECT_EQ(unnamed->Name(), L"");
  // The client's and the server's other objects, from the same definitions.
  EXPECT_EQ(ChannelObjectName(kVideoSemaphoreKind, 2, L"p"), L"Global\\VideoPipeSemaphore_2_p");
  EXPECT_EQ(ChannelObjectName(kAudioSemaphoreKind, 0, L"p"), L"Global\\AudioPipeSemaphore_0_p");
  EXPECT_EQ(ChannelObjectName(kAudioEventKind, 7, L"p"), L"Global\\AudioPipeEvent_7_p");
  EXPECT_EQ(PipeMutexName(L"p"), L"Global\\PipeMutex_p");
  EXPECT_EQ(LocalFormOf(L"Global\\PIPE_AUDIO_0_p"), L"Local\\PIPE_AUDIO_0_p");
  EXPECT_EQ(LocalFormOf(L"Local\\PIPE_AUDIO_0_p"), L"");
}

// An ordinary user may not create "Global\" mappings: the writer makes the
// "Local\" form, says so once per buffer, and the reader finds it there.
TEST(PipeMemoryNamespace, RefusedGlobalMappingIsMadeLocalAndFoundByTheReader) {
  const std::wstring pipe = UniquePipe();
  const std::wstring global = PipeMemoryVideo::MappingName(0, pipe.c_str());
  const std::wstring local = L"Local\\PIPE_VIDEO_0_" + pipe;
  {
    ring_test::GlobalMappingSeam seam(/*deny=*/false);
    BrisqRef<PipeMemoryVideo> writer = MakeBrisqRef<PipeMemoryVideo>(global.c_str());
    BrisqRef<PipeMemoryVideo> reader = MakeBrisqRef<PipeMemoryVideo>(global.c_str());
    ASSERT_TRUE(writer->Create(MakeFrame(2, 2).packet));
    ASSERT_TRUE(reader->Open());
    EXPECT_EQ(seam.Created(), std::vector<std::wstring>{global}) << "names exactly as before";
    EXPECT_EQ(seam.Opened(), std::vector<std::wstring>{global});
  }
  ring_test::GlobalMappingSeam seam(/*deny=*/true);
  LogCapture capture{LogClock::kDriven};
  BrisqRef<PipeMemoryVideo> writer = MakeBrisqRef<PipeMemoryVideo>(global.c_str());
  Frame f = MakeFrame(4, 2);
  ASSERT_TRUE(writer->Create(f.packet));
  writer->Close();
  ASSERT_TRUE(writer->Create(f.packet));
  ASSERT_TRUE(writer->SendPacket(f.packet, 1));
  EXPECT_EQ(seam.Created(), (std::vector<std::wstring>{global, local, global, local}));
  const std::string warning = "Failed to Create(" + BrisqAnsiFromWide(global.c_str()) +
                              ") in the global namespace(access denied), created " +
                              BrisqAnsiFromWide(local.c_str()) + " instead";
  EXPECT_EQ(capture.Messages(), (Lines{{1, warning}})) << "a WARNING";

  BrisqRef<PipeMemoryVideo> reader = MakeBrisqRef<PipeMemoryVideo>(global.c_str());
  ASSERT_TRUE(reader->Open());
  EXPECT_EQ(seam.Opened(), (std::vector<std::wstring>{global, local}));
  MediaPacket out;
  ASSERT_TRUE(reader->ReadPacket(&out));
  EXPECT_EQ(std::memcmp(out.data[0], f.pixels.data(), 32), 0);
}

TEST(PipeMemoryLifecycle, CreateWritesTheHeaderAndCloseEmpties) {
  const std::wstring pipe = UniquePipe();
  BrisqRef<PipeMemoryVideo> video =
      MakeBrisqRef<PipeMemoryVideo>(PipeMemoryVideo::MappingName(0, pipe.c_str()).c_str());
  EXPECT_TRUE(video->IsEmpty());
  Frame first = MakeFrame(4, 2);
  ASSERT_TRUE(video->Create(first.packet));
  EXPECT_FALSE(video->IsEmpty());
  EXPECT_EQ(video->Index(), 0);
  RingHeader h = HeaderOf(*video);
  EXPECT_EQ(h.slot_size, 8294568u);
  EXPECT_EQ(h.slot_count, 3u);
  EXPECT_EQ(h.info0, 0xC0DEu);
  EXPECT_EQ(h.info1, 30u);
  EXPECT_EQ(h.fill_state, 2u);
  video->Close();
  EXPECT_TRUE(video->IsEmpty());
  EXPECT_EQ(video->Index(), -1);
  EXPECT_EQ(video->Header(), nullptr);

  std::vector<uint8_t> samples(16);
  BrisqRef<PipeMemoryAudio> audio =
      MakeBrisqRef<PipeMemoryAudio>(PipeMemoryAudio::MappingName(0, pipe.c_str()).c_str());
  ASSERT_TRUE(audio->Create(Audio(samples, 0)));
  h = HeaderOf(*audio);
  EXPECT_EQ(h.slot_size, 123048u);
  EXPECT_EQ(h.info0, 1u);
  EXPECT_EQ(h.info1, 44100u);
}

TEST(PipeMemoryLifecycle, OpenOfAMissingRingLogsAndStaysEmpty) {
  LogCapture capture{LogClock::kDriven};
  const std::wstring name = PipeMemoryVideo::MappingName(0, UniquePipe().c_str());
  BrisqRef<PipeMemoryVideo> reader = MakeBrisqRef<PipeMemoryVideo>(name.c_str());
  EXPECT_FALSE(reader->Open());
  EXPECT_TRUE(reader->IsEmpty());
  MediaPacket packet;
  EXPECT_FALSE(reader->ReadPacket(&packet));
  const std::vector<std::string> lines = capture.MessageTexts();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Failed to OpenFileMapping(2,", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "Failed to Open(" + BrisqAnsiFromWide(name.c_str()) + ")");
}

TEST(PipeMemoryLifecycle, CreateOverASmallerMappingOfTheSameNameFails) {
  const std::wstring name = PipeMemoryVideo::MappingName(0, UniquePipe().c_str());
  BrisqFramework::BrisqSharedMemory squatter;
  ASSERT_TRUE(squatter.Create(name.c_str(), 4096));
  LogCapture capture{LogClock::kDriven};
  BrisqRef<PipeMemoryVideo> video = MakeBrisqRef<PipeMemoryVideo>(name.c_str());
  EXPECT_FALSE(video->Create(MakeFrame(2, 2).packet));
  EXPECT_TRUE(video->IsEmpty());
  const std::vector<std::string> lines = capture.MessageTexts();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Failed to MapViewOfFile(", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "Failed to Map(" + BrisqAnsiFromWide(name.c_str()) + ")");
}

TEST(PipeMemoryLifecycle, NothingIsSentOrReadWithoutAMapping) {
  LogCapture capture{LogClock::kDriven};
  BrisqRef<PipeMemoryVideo> video = MakeBrisqRef<PipeMemoryVideo>(L"unused");
  EXPECT_FALSE(video->SendPacket(MakeFrame(2, 2).packet, 1));
  MediaPacket packet;
  EXPECT_FALSE(video->ReadPacket(&packet));
  EXPECT_TRUE(capture.Lines().empty());
}

// Sends `p`, which must be refused with the ERROR line `error` and leave the
// ring open and as it was.
template <typename Ring>
void ExpectRefused(Ring& writer, const MediaPacket& p, const std::string& error) {
  const int32_t last_index = HeaderOf(writer).last_index;
  const int32_t index = writer.Index();
  LogCapture capture{LogClock::kDriven};
  EXPECT_FALSE(writer.SendPacket(p, 1));
  EXPECT_EQ(capture.Messages(), (Lines{{2, error}}));
  EXPECT_EQ(HeaderOf(writer).last_index, last_index);
  EXPECT_EQ(writer.Index(), index);
  EXPECT_FALSE(writer.IsEmpty()) << "the buffer stays open";
}

// --- The video writer -------------------------------------------------------------------

class VideoRing : public ::testing::Test {
 protected:
  // Creates the ring with `p` as its first packet and sends `p` `sends` times.
  bool Start(const MediaPacket& p, int sends) {
    if (!writer_->Create(p)) return false;
    for (int i = 0; i < sends; ++i)
      if (!writer_->SendPacket(p, 1)) return false;
    return true;
  }
  BrisqRef<PipeMemoryVideo> OpenReader() {
    BrisqRef<PipeMemoryVideo> reader = MakeBrisqRef<PipeMemoryVideo>(name_.c_str());
    EXPECT_TRUE(reader->Open());
    return reader;
  }

  const std::wstring pipe_ = UniquePipe();
  const std::wstring name_ = PipeMemoryVideo::MappingName(0, pipe_.c_str());
  BrisqRef<PipeMemoryVideo> writer_ = MakeBrisqRef<PipeMemoryVideo>(name_.c_str());
};

TEST_F(VideoRing, FullHdFrameIsStoredAndOneColumnMoreIsRefused) {
  Frame full = MakeFrame(1920, 1080);
  ASSERT_TRUE(Start(full.packet, 1));
  EXPECT_EQ(HeaderOf(*writer_).last_index, 0);
  const uint8_t* stored = SlotPayload(*writer_, 0, RingKind::kVideo);
  EXPECT_EQ(std::memcmp(stored, full.pixels.data(), kVideoPayloadSize), 0);
  EXPECT_EQ(writer_->Index(), 1);
  ExpectRefused(*writer_, MakeFrame(1921, 1080).packet,
                "Failed to SendPacket(invalid video size(1921,1080)");
}

TEST_F(VideoRing, FrameWhosePixelCountWrapsIn32BitsIsRefused) {
  Frame small = MakeFrame(2, 2);
  ASSERT_TRUE(Start(small.packet, 1));
  MediaPacket huge = small.packet;  // 16 bytes of pixels behind a 65536 x 65536 claim
  huge.width = 65536;
  huge.height = 65536;
  ExpectRefused(*writer_, huge, "Failed to SendPacket(invalid video size(65536,65536)");
}

TEST_F(VideoRing, StrideThatOverrunsTheSlotIsRefused) {
  Frame small = MakeFrame(2, 2);
  ASSERT_TRUE(Start(small.packet, 0));
  MediaPacket wide = small.packet;
  wide.width = 1000;
  wide.height = 1000;
  wide.linesize[0] = 10000;  // 10 MB of rows for a slot of 8294400 bytes
  ExpectRefused(*writer_, wide, "Failed to SendPacket(video frame too large(10000000,8294400))");
}

TEST_F(VideoRing, ThreePacketsWrapTheWriterToSlotZero) {
  Frame f = MakeFrame(8, 8);
  ASSERT_TRUE(writer_->Create(f.packet));
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(HeaderOf(*writer_).fill_state, 2u);
    ASSERT_TRUE(writer_->SendPacket(f.packet, i == 1 ? 0u : 1u));
    EXPECT_EQ(HeaderOf(*writer_).last_index, i);
  }
  EXPECT_EQ(writer_->Index(), 0);
  EXPECT_EQ(HeaderOf(*writer_).fill_state, 4u);
  EXPECT_EQ(HeaderOf(*writer_).ack_requested, 1u);
}

// What the host's reader depends on, byte by byte: the header and slot 1's
// record and payload after two packets.
TEST_F(VideoRing, HeaderAndSlotBytesSitWhereThePeerReadsThem) {
  Frame f = MakeFrame(8, 8);
  ASSERT_TRUE(Start(f.packet, 1));
  f.packet.timestamp = 0x1122334455667788ull;
  ASSERT_TRUE(writer_->SendPacket(f.packet, 0));
  const uint8_t* base = writer_->Header();
  ExpectFields(base,
               {{0, 0}, {4, 1}, {8, 8294568}, {12, 3}, {24, 0xC0DE}, {28, 30}, {32, 2}, {36, 0}},
               "header");
  const uint8_t* slot1 = base + 48 + 8294568;
  ExpectFields(slot1, {{0, 2}, {16, 8}, {20, 8}, {28, 0xC0DE}, {32, 30}, {36, 12}, {120, 32}},
               "record");
  EXPECT_EQ(At<uint64_t>(slot1, 160), 0x1122334455667788ull);
  EXPECT_EQ(std::memcmp(slot1 + 168, f.pixels.data(), 8 * 8 * 4), 0);
}

TEST_F(VideoRing, FlipFlagStoresRowsBottomUp) {
  Frame f = MakeFrame(5, 3, /*flip=*/true);
  ASSERT_TRUE(Start(f.packet, 1));
  const uint8_t* stored = SlotPayload(*writer_, 0, RingKind::kVideo);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t x = 0; x < 20; ++x)
      ASSERT_EQ(stored[r * 20 + x], Pixel(2 - r, x)) << "row " << r << " byte " << x;
}

TEST_F(VideoRing, FormatsWithoutPayloadAdvanceTheRing) {
  Frame f = MakeFrame(4, 4);
  ASSERT_TRUE(writer_->Create(f.packet));
  for (uint32_t format : {8u, 13u}) {
    MediaPacket p = f.packet;
    p.format = format;
    ASSERT_TRUE(writer_->SendPacket(p, 1));
  }
  EXPECT_EQ(HeaderOf(*writer_).last_index, 1);
  const uint8_t* stored = SlotPayload(*writer_, 0, RingKind::kVideo);
  for (size_t i = 0; i < 64; ++i) ASSERT_EQ(stored[i], 0) << "byte " << i;
  BrisqRef<PipeMemoryVideo> reader = OpenReader();
  MediaPacket out;
  ASSERT_TRUE(reader->ReadPacket(&out));
  EXPECT_EQ(out.format, 13u);
  for (uint8_t* d : out.data) EXPECT_EQ(d, nullptr);
}

// --- The video reader ---------------------------------------------------------------------

TEST_F(VideoRing, LateReaderStartsAtTheSlotWrittenLast) {
  Frame f = MakeFrame(4, 4);
  ASSERT_TRUE(writer_->Create(f.packet));
  for (uint64_t stamp = 1; stamp <= 5; ++stamp) {
    f.packet.timestamp = stamp;
    ASSERT_TRUE(writer_->SendPacket(f.packet, 1));
  }
  BrisqRef<PipeMemoryVideo> reader = OpenReader();
  EXPECT_EQ(reader->Index(), -1);
  MediaPacket out;
  ASSERT_TRUE(reader->ReadPacket(&out));
  EXPECT_EQ(out.timestamp, 5u);
  EXPECT_EQ(out.data[0], SlotPayload(*reader, 1, RingKind::kVideo));
  EXPECT_EQ(out.data[1], nullptr);
  EXPECT_EQ(std::memcmp(out.data[0], f.pixels.data(), 64), 0);
  EXPECT_EQ(reader->Index(), 2);
}

TEST_F(VideoRing, ReaderInAnotherProcessSeesTheSameBytes) {
  Frame f = MakeFrame(320, 240);
  f.packet.timestamp = 0x1234567890ull;
  ASSERT_TRUE(Start(f.packet, 1));
  test_support::ChildProcess child;
  ASSERT_TRUE(child.StartSelf(L"--ring-child video-read " + pipe_ + L" 320 240"));
  EXPECT_EQ(child.Wait(std::chrono::seconds(60)), 0u);
}

// --- Hostile rings --------------------------------------------------------------------------

// Writes `value` at `offset` of the mapping `name` through a second writable view.
void Poke(const std::wstring& name, size_t offset, uint32_t value) {
  BrisqFramework::BrisqSharedMemory raw;
  ASSERT_TRUE(raw.Create(name.c_str(), kVideoMappingSize));
  ASSERT_TRUE(raw.Map(kVideoMappingSize));
  StoreU32(raw.View() + offset, value);
}

TEST_F(VideoRing, HostileHeaderIsSkippedWithAnErrorLine) {
  Frame f = MakeFrame(4, 4);
  ASSERT_TRUE(Start(f.packet, 1));
  BrisqRef<PipeMemoryVideo> reader = OpenReader();

  LogCapture capture{LogClock::kDriven};
  MediaPacket out;
  Poke(name_, kHeaderSlotCount, 1000);  // 1000 slots of 8 MB
  EXPECT_FALSE(reader->ReadPacket(&out));
  Poke(name_, kHeaderSlotCount, 3);
  Poke(name_, kHeaderLastIndex, 0x7FFFFFFF);
  EXPECT_FALSE(reader->ReadPacket(&out));
  EXPECT_EQ(reader->Index(), -1);
  EXPECT_EQ(capture.Messages(),
            (Lines{{2, "Failed to ReadPacket(invalid ring header(8294568,1000,33178320))"},
                   {2, "Failed to ReadPacket(invalid lastIndex(2147483647,3))"}}));
}

TEST_F(VideoRing, HostileSlotIsSkippedAndTheNextOneRead) {
  Frame f = MakeFrame(4, 4);
  ASSERT_TRUE(Start(f.packet, 2));
  BrisqRef<PipeMemoryVideo> reader = OpenReader();
  const size_t slot0 = kRingHeaderSize;
  Poke(name_, kHeaderLastIndex, 0);
  Poke(name_, slot0 + 16, 65536);  // width
  Poke(name_, slot0 + 20, 65536);  // height

  LogCapture capture{LogClock::kDriven};
  MediaPacket out;
  EXPECT_FALSE(reader->ReadPacket(&out));
  for (uint8_t* d : out.data) EXPECT_EQ(d, nullptr);
  ASSERT_TRUE(reader->ReadPacket(&out));
  EXPECT_EQ(out.width, 4u);
  EXPECT_EQ(capture.Messages(),
            (Lines{{2, "Failed to ReadPacket(invalid video size(65536,65536)"}}));
}

// --- Audio ----------------------------------------------------------------------------------

class AudioRing : public ::testing::Test {
 protected:
  const std::wstring name_ = PipeMemoryAudio::MappingName(3, UniquePipe().c_str());
  BrisqRef<PipeMemoryAudio> writer_ = MakeBrisqRef<PipeMemoryAudio>(name_.c_str());
  BrisqRef<PipeMemoryAudio> reader_ = MakeBrisqRef<PipeMemoryAudio>(name_.c_str());
};

TEST_F(AudioRing, OversizedPayloadIsRefusedAndTheRingUnchanged) {
  std::vector<uint8_t> fits(122880, 0x11);
  std::vector<uint8_t> too_big(122881, 0x22);
  ASSERT_TRUE(writer_->Create(Audio(fits, 1)));
  ASSERT_TRUE(writer_->SendPacket(Audio(fits, 1), 1));
  ExpectRefused(*writer_, Audio(too_big, 2),
                "Failed to SendPacket(audio data too large(122881,122880))");
  EXPECT_EQ(SlotPayload(*writer_, 1, RingKind::kAudio)[0], 0) << "the next slot stays untouched";
}

TEST_F(AudioRing, HeaderAndSlotBytesSitWhereThePeerReadsThem) {
  std::vector<uint8_t> samples(100, 0x5A);
  ASSERT_TRUE(writer_->Create(Audio(samples, 7)));
  ASSERT_TRUE(writer_->SendPacket(Audio(samples, 7), 1));
  const uint8_t* base = writer_->Header();
  ExpectFields(base, {{8, 123048}, {24, 1}, {28, 44100}, {36, 1}}, "header");
  const uint8_t* slot0 = base + 48;
  ExpectFields(slot0, {{0, 1}, {152, 100}}, "record");
  EXPECT_EQ(At<uint64_t>(slot0, 160), 7u);
  EXPECT_EQ(slot0[168], 0x5A);
  EXPECT_EQ(slot0[168 + 99], 0x5A);
}

TEST_F(AudioRing, EachPacketIsReadOnceWithItsAcknowledgeFlag) {
  std::vector<uint8_t> samples(1024);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i * 3);
  ASSERT_TRUE(writer_->Create(Audio(samples, 0)));
  ASSERT_TRUE(writer_->SendPacket(Audio(samples, 1), 1));
  ASSERT_TRUE(reader_->Open());
  MediaPacket out;
  for (uint64_t stamp = 1; stamp <= 5; ++stamp) {
    if (stamp > 1) {
      ASSERT_TRUE(writer_->SendPacket(Audio(samples, stamp), stamp % 2));
    }
    ASSERT_TRUE(reader_->ReadPacket(&out)) << "packet " << stamp;
    EXPECT_EQ(out.timestamp, stamp);
    EXPECT_EQ(out.audio_bytes, 1024u);
    EXPECT_EQ(std::memcmp(out.data[0], samples.data(), samples.size()), 0);
    EXPECT_EQ(reader_->AckRequested(), stamp % 2 == 1);
    EXPECT_FALSE(reader_->ReadPacket(&out)) << "packet " << stamp << " must not be read twice";
  }
}

}  // namespace
}  // namespace Quenlo
