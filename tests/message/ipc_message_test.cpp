#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Quenlo/message/IPCMessage.h"
#include "Quenlo/message/PickleIterator.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using Ravoque::IPCMessage;
using Ravoque::LoadLE32;

uint32_t OsProcessId() {
#ifdef _WIN32
  return static_cast<uint32_t>(GetCurrentProcessId());
#else
  return static_cast<uint32_t>(getpid());
#endif
}

uint32_t CounterBits(uint32_t flags) { return (flags >> 8) & 0x3FFF; }

std::string Wire(const IPCMessage& m) { return std::string(m.Data(), m.Size()); }

std::string Header(uint32_t payloadSize, uint32_t type = 7) {
  std::string h(16, '\0');
  Ravoque::StoreLE32(&h[0], payloadSize);
  Ravoque::StoreLE32(&h[4], static_cast<uint32_t>(-2));
  Ravoque::StoreLE32(&h[8], type);
  return h;
}

// FindNext over the first `count` bytes, into a FrameInfo that held junk.
IPCMessage::FrameInfo Find(const std::string& bytes, std::size_t count, bool found) {
  IPCMessage::FrameInfo info;
  info.messageSize = 99;
  info.messageEnd = bytes.data();
  EXPECT_EQ(IPCMessage::FindNext(bytes.data(), bytes.data() + count, &info), found) << count;
  return info;
}

// --- The 16-byte header on the wire ---

TEST(IPCMessageHeader, EmptyMessageIsExactlyTheHeader) {
  IPCMessage m(101);
  const std::string w = Wire(m);
  ASSERT_EQ(w.size(), 16u);
  EXPECT_EQ(w.substr(0, 12), std::string("\0\0\0\0\xFE\xFF\xFF\xFF\x65\0\0\0", 12));
  EXPECT_EQ(LoadLE32(w.data() + 12), m.Flags());
}

TEST(IPCMessageHeader, PayloadSizeTracksEveryWrite) {
  IPCMessage m(IPCMessage::kTypeHello);
  ASSERT_TRUE(m.WriteInt(1234));
  ASSERT_TRUE(m.WriteData("abcde", 5));
  EXPECT_EQ(LoadLE32(m.Data()), 16u);
  EXPECT_EQ(m.Size(), 32u);
  EXPECT_EQ(m.Type(), 0xFFFFu);
  EXPECT_EQ(m.Routing(), -2);
}

TEST(IPCMessageHeader, ViewReadsTheSameFieldsWithoutCopying) {
  IPCMessage m(65534);
  ASSERT_TRUE(m.WriteData("payload", 7));
  IPCMessage view(m.Data(), m.Size());
  EXPECT_EQ(view.Data(), m.Data());
  EXPECT_EQ(view.HeaderSize(), 16u);
  EXPECT_EQ(view.Type(), 65534u);
  EXPECT_EQ(view.Routing(), -2);
  EXPECT_EQ(view.Flags(), m.Flags());
  EXPECT_EQ(view.PayloadSize(), m.PayloadSize());
}

TEST(IPCMessageHeader, ViewWithAHeaderTooShortForItsFieldsIsInvalid) {
  // Valid as a plain pickle (header of 4 bytes), but type and flags would be
  // read beyond the 8 bytes that exist.
  const std::string bytes("\x04\x00\x00\x00\x01\x02\x03\x04", 8);
  IPCMessage view(bytes.data(), bytes.size());
  EXPECT_EQ(view.Data(), nullptr);
  EXPECT_EQ(view.Type(), 0u);
  EXPECT_EQ(view.Routing(), 0);
  EXPECT_EQ(view.Flags(), 0u);
  EXPECT_EQ(view.Size(), 0u);
  int32_t value = 0;
  EXPECT_FALSE(Ravoque::PickleIterator(view).ReadInt(&value));
}

// --- Flags: priority, counter bits, pid bits ---

TEST(IPCMessageFlags, FormulaKeepsOnlyTheLowBitsOfPidAndCounter) {
  EXPECT_EQ(IPCMessage::MakeFlags(0, 1), 0x102u);
  EXPECT_EQ(IPCMessage::MakeFlags(1, 0), 0x400002u);
  EXPECT_EQ(IPCMessage::MakeFlags(0, 0x4001), 0x102u) << "counter beyond 14 bits";
  EXPECT_EQ(IPCMessage::MakeFlags(1024 + 5, 3), (5u << 22) | (3u << 8) | 2u)
      << "pid beyond 10 bits";
  EXPECT_EQ(IPCMessage::MakeFlags(0xFFFFFFFF, 0xFFFFFFFF), 0xFFFFFF02u);
}

TEST(IPCMessageFlags, PriorityAndPidBitsComeFromThisProcess) {
  IPCMessage m(1);
  EXPECT_EQ(m.Flags() & 0xFF, 2u);
  EXPECT_EQ(m.Flags() >> 22, OsProcessId() % 1024);
}

TEST(IPCMessageFlags, EachMessageTakesTheNextCounterValue) {
  IPCMessage a(1);
  IPCMessage b(1);
  EXPECT_EQ(CounterBits(b.Flags()), (CounterBits(a.Flags()) + 1) & 0x3FFF);
}

TEST(IPCMessageFlags, FirstMessageOfAProcessCountsOne) {
  // A fresh process (not a fork of this one) builds its first message.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(static_cast<int>(CounterBits(IPCMessage(1).Flags()))),
              testing::ExitedWithCode(1), "");
}

TEST(IPCMessageFlags, ConcurrentBuildersNeverShareACounterValue) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2000;  // 8000 < 2^14: no wrap in the window
  std::vector<std::vector<uint32_t>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&seen, t] {
      for (int i = 0; i < kPerThread; ++i) seen[t].push_back(CounterBits(IPCMessage(1).Flags()));
    });
  }
  for (auto& th : threads) th.join();
  std::set<uint32_t> all;
  for (const auto& v : seen) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kPerThread));
}

// --- FindNext: frames split anywhere and frames merged in one buffer ---

TEST(IPCMessageFindNext, FewerThanAHeaderReportsNothing) {
  const IPCMessage::FrameInfo info = Find(Header(0), 15, false);
  EXPECT_EQ(info.messageSize, 0u);
  EXPECT_EQ(info.messageEnd, nullptr);
}

TEST(IPCMessageFindNext, IncompleteMessageReportsItsAnnouncedSize) {
  const IPCMessage::FrameInfo info = Find(Header(100) + std::string(40, 'p'), 56, false);
  EXPECT_EQ(info.messageSize, 116u);
  EXPECT_EQ(info.messageEnd, nullptr);
}

TEST(IPCMessageFindNext, HugeAnnouncedSizeDoesNotWrap) {
  EXPECT_EQ(Find(Header(0xFFFFFFFF), 16, false).messageSize, 0xFFFFFFFFull + 16);
}

TEST(IPCMessageFindNext, EverySplitPointOfOneMessage) {
  IPCMessage m(9);
  ASSERT_TRUE(m.WriteData("split me", 8));
  const std::string w = Wire(m);
  for (std::size_t cut = 0; cut < w.size(); ++cut) {
    EXPECT_EQ(Find(w, cut, false).messageSize, cut < 16 ? 0u : w.size()) << cut;
  }
  EXPECT_EQ(Find(w, w.size(), true).messageEnd, w.data() + w.size());
}

TEST(IPCMessageFindNext, MergedMessagesAreFoundOneAfterTheOther) {
  IPCMessage first(1);
  ASSERT_TRUE(first.WriteData("one", 3));
  IPCMessage second(2);
  ASSERT_TRUE(second.WriteData("second", 6));
  IPCMessage third(3);
  const std::string stream = Wire(first) + Wire(second) + Wire(third) + Header(4).substr(0, 9);

  std::vector<uint32_t> types;
  std::vector<std::string> blobs;
  const char* pos = stream.data();
  const char* end = stream.data() + stream.size();
  IPCMessage::FrameInfo info;
  while (IPCMessage::FindNext(pos, end, &info)) {
    IPCMessage view(pos, static_cast<std::size_t>(info.messageSize));
    types.push_back(view.Type());
    Ravoque::PickleIterator it(view);
    const char* data = nullptr;
    int length = 0;
    blobs.push_back(it.ReadData(&data, &length) ? std::string(data, length) : "<none>");
    pos = info.messageEnd;
  }
  EXPECT_EQ(types, (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(blobs, (std::vector<std::string>{"one", "second", "<none>"}));
  EXPECT_EQ(pos, stream.data() + first.Size() + second.Size() + third.Size());
  EXPECT_EQ(info.messageSize, 0u) << "9 trailing bytes are not yet a header";
}

TEST(IPCMessageFindNext, NullOrReversedRangeHoldsNothing) {
  const std::string bytes = Header(0);
  IPCMessage::FrameInfo info;
  EXPECT_FALSE(IPCMessage::FindNext(nullptr, nullptr, &info));
  EXPECT_FALSE(IPCMessage::FindNext(bytes.data() + 16, bytes.data(), &info));
  EXPECT_EQ(info.messageSize, 0u);
}

}  // namespace
