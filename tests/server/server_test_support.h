// Test helpers for the pipe server: the media a client sends, probes of the
// process (threads, handles) and a server reference.
#ifndef TESTS_SERVER_SERVER_TEST_SUPPORT_H
#define TESTS_SERVER_SERVER_TEST_SUPPORT_H

#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "BrisqFramework/Common/BrisqHandle.h"
#include "Quenlo/Quenlo.h"
#include "tests/support/unique_name.h"
#include "tests/support/wait_until.h"

namespace server_test {

constexpr uint32_t kWidth = 900;
constexpr uint32_t kHeight = 180;
constexpr uint32_t kStride = kWidth * 4;
constexpr uint32_t kAudioBytes = 4096;
constexpr uint64_t kStamp = 0x1122334455667788ull;

// One video frame (format 12) and one audio packet, every byte of both
// distinct from its neighbours and from the same byte of the next row.
struct Media {
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> samples;
  MediaPacket video = {};
  MediaPacket audio = {};

  Media() : pixels(kStride * kHeight), samples(kAudioBytes) {
    for (size_t i = 0; i < pixels.size(); ++i) {
      pixels[i] = static_cast<uint8_t>(i / kStride * 31 + i % kStride * 7 + 13);
    }
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 5 + 3);
    video.kind = MEDIA_PACKET_VIDEO;
    video.reserved8 = 0xABCD1234u;
    video.width = kWidth;
    video.height = kHeight;
    video.video_info0 = 30;
    video.video_info1 = 1;
    video.format = 12;
    video.data[0] = pixels.data();
    video.linesize[0] = static_cast<int32_t>(kStride);
    video.timestamp = kStamp;
    audio.kind = MEDIA_PACKET_AUDIO;
    audio.width = 48000;
    audio.data[0] = samples.data();
    audio.audio_bytes = kAudioBytes;
    audio.timestamp = kStamp + 1;
  }
};

// A receiver's check of a delivered packet against Media, made while its
// planes are valid.
inline bool PayloadIsExpected(const MediaPacket& p) {
  static const Media sent;
  if (p.data[0] == nullptr) return false;
  if (p.kind == MEDIA_PACKET_VIDEO) {
    return p.width == kWidth && p.height == kHeight && p.format == 12 &&
           p.linesize[0] == static_cast<int32_t>(kStride) &&
           std::memcmp(p.data[0], sent.pixels.data(), sent.pixels.size()) == 0;
  }
  return p.kind == MEDIA_PACKET_AUDIO && p.audio_bytes == kAudioBytes &&
         std::memcmp(p.data[0], sent.samples.data(), kAudioBytes) == 0;
}

// A fresh file name in the temporary folder.
inline std::wstring TempFile(const wchar_t* tag) {
  wchar_t dir[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + test_support::UniqueName(tag) + L".txt";
}

// The whole file ("" if missing); its writer may still have it open.
inline std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Threads of this process right now.
inline int ThreadCount() {
  BrisqFramework::BrisqHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot.IsValid()) return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more;
       more = ::Thread32Next(snapshot.Get(), &entry)) {
    count += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
  }
  return count;
}

// Waits (threads end a little after they are joined) until the count is
// back at `expected`; returns the last count seen.
inline int SettledThreadCount(int expected) {
  int count = ThreadCount();
  test_support::WaitUntil([&] { return (count = ThreadCount()) == expected; },
                          std::chrono::milliseconds(3000));
  return count;
}

// Open handles of this process. Wine answers GetProcessHandleCount with 0;
// then every handle value (a multiple of 4) is probed instead.
inline DWORD HandleCount() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0) return count;
  for (uintptr_t value = 4; value < (1u << 18); value += 4) {
    DWORD flags = 0;
    count += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
  }
  return count;
}

// One reference to a server, released on destruction. `release()->Release()`
// drops it now; `release()` alone keeps it (a test that found a deadlock must
// not block in Release at its end).
struct ReleaseServer {
  void operator()(Quenlo::IPipeServer* server) const { server->Release(); }
};
using ServerRef = std::unique_ptr<Quenlo::IPipeServer, ReleaseServer>;

}  // namespace server_test

#endif  // TESTS_SERVER_SERVER_TEST_SUPPORT_H
