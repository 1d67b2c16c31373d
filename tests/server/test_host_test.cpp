// test-host.exe, driven from this process as its client: what it prints
// for each event, what it sends, and how it ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "BrisqFramework/Common/BrisqHandle.h"
#include "Quenlo/Quenlo.h"
#include "server_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/event_recorder.h"
#include "tests/support/unique_name.h"

namespace {

using BrisqFramework::BrisqHandle;
using namespace server_test;
using test_support::BuildFolder;
using test_support::ChildProcess;
using test_support::EventRecorder;
using test_support::PipeEvent;
using test_support::UniqueName;
using test_support::WaitUntil;

std::wstring TempFile(const wchar_t* tag) {
  wchar_t dir[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + UniqueName(tag) + L".txt";
}

std::string ReadAll(const std::wstring& path) {
  // Shared read: the host still writes to the file.
  BrisqHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) {
    (void)file.Detach();
    return std::string();
  }
  std::string out;
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(file.Get(), buffer, sizeof(buffer), &n, nullptr) && n != 0)
    out.append(buffer, n);
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

uint32_t Fnv1a(const uint8_t* data, size_t size) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
  return hash;
}

std::string Hex32(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof(text), "%08x", value);
  return text;
}

// test-host.exe with its stdout and stderr in a file.
class HostProcess {
 public:
  explicit HostProcess(const std::wstring& arguments) : output_path_(TempFile(L"hostout")) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    output_.Reset(::CreateFileW(output_path_.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    test_support::ChildOptions options;
    options.output = output_.Get();
    started_ = process_.Start(L"\"" + BuildFolder() + L"test-host.exe\" " + arguments, options);
  }
  ~HostProcess() {
    process_.Kill();
    output_.Reset();
    ::DeleteFileW(output_path_.c_str());
  }
  bool started() const { return started_; }
  std::vector<std::string> Output() const { return Lines(ReadAll(output_path_)); }
  bool WaitForLine(const std::string& line) {
    return WaitUntil([&] { return HasLine(Output(), line); });
  }
  DWORD Wait() { return process_.Wait(); }

 private:
  std::wstring output_path_;
  BrisqHandle output_;
  ChildProcess process_;
  bool started_ = false;
};

// The client end, in this process, with the library linked in.
struct Client {
  Quenlo::IPipeClient* client = nullptr;
  EventRecorder recorder;
  Client() {
    CreatePipeClient(&client);
    client->SetCallback(&EventRecorder::Callback, &recorder);
  }
  ~Client() {
    client->Destroy();
    client->Release();
  }
};

TEST(TestHost, PrintsEventsAndPacketsAndSendsEachLineOfItsFile) {
  const std::wstring name = UniqueName(L"host");
  const std::wstring send_path = TempFile(L"send");
  {
    std::ofstream send(std::filesystem::path(send_path), std::ios::binary);
    send << "{\"a\":1}\r\n\n{\"\xe4\xb8\xad\":\"\xe6\x96\x87\"}\n";
  }
  HostProcess host(L"--pipe " + name + L" --send \"" + send_path + L"\" --exit-on-disconnect");
  ASSERT_TRUE(host.started());

  Client c;
  ASSERT_EQ(c.client->Create(name.c_str(), 1), 1);
  ASSERT_TRUE(c.recorder.WaitForCount(EVENT_CONNECTED, 1));
  ASSERT_TRUE(c.recorder.WaitForCount(EVENT_MESSAGE, 2));
  const std::vector<PipeEvent> received = c.recorder.Of(EVENT_MESSAGE);
  EXPECT_EQ(received[0].type, 1u);
  EXPECT_EQ(received[0].data, "{\"a\":1}");
  EXPECT_EQ(received[1].data, "{\"\xe4\xb8\xad\":\"\xe6\x96\x87\"}");

  ASSERT_EQ(c.client->SendMessage(7, "hi there", 8), 1);
  ASSERT_EQ(c.client->SendMessage(42, "\x00\x01\n", 3), 1);

  std::vector<uint8_t> pixels(900 * 4 * 180);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 13 + i / 3600);
  MediaPacket video = {};
  video.kind = MEDIA_PACKET_VIDEO;
  video.width = 900;
  video.height = 180;
  video.format = 12;
  video.data[0] = pixels.data();
  video.linesize[0] = 3600;
  video.timestamp = 42;
  ASSERT_EQ(c.client->WritePacket(&video, 80), 1);
  std::vector<uint8_t> samples(4096);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 7);
  MediaPacket audio = {};
  audio.kind = MEDIA_PACKET_AUDIO;
  audio.width = 48000;
  audio.data[0] = samples.data();
  audio.audio_bytes = 4096;
  audio.timestamp = 43;
  ASSERT_EQ(c.client->WritePacket(&audio, 5000), 1);

  const std::string video_line =
      "packet kind=video channel=0 width=900 height=180 format=12 flip=0 stride=3600 "
      "timestamp=42 bytes=648000 checksum=" +
      Hex32(Fnv1a(pixels.data(), pixels.size()));
  const std::string audio_line =
      "packet kind=audio channel=0 info=48000 timestamp=43 bytes=4096 "
      "checksum=" +
      Hex32(Fnv1a(samples.data(), samples.size()));
  EXPECT_TRUE(host.WaitForLine(video_line));
  EXPECT_TRUE(host.WaitForLine(audio_line));
  EXPECT_TRUE(host.WaitForLine("message type=42 length=3 hex=00 01 0a"));

  c.client->Destroy();  // the host sees the break and ends
  EXPECT_EQ(host.Wait(), 0u);
  const std::vector<std::string> out = host.Output();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.front(), "listening pipe=" + std::string(name.begin(), name.end()) + " channels=1");
  EXPECT_TRUE(HasLine(out, "connected"));
  EXPECT_TRUE(HasLine(out, "sent type=1 length=7 result=1"));
  EXPECT_TRUE(HasLine(out, "sent type=1 length=13 result=1"));
  EXPECT_TRUE(HasLine(out, "message type=7 length=8 text=hi there"));
  EXPECT_TRUE(HasLine(out, "broken"));
  EXPECT_EQ(out.back(), "exit");
  ::DeleteFileW(send_path.c_str());
}

TEST(TestHost, HelpSucceedsAndBadOptionsExitWithTwo) {
  {
    HostProcess host(L"--help");
    ASSERT_TRUE(host.started());
    EXPECT_EQ(host.Wait(), 0u);
    EXPECT_EQ(host.Output().front(), "Usage: test-host --pipe NAME [options]");
  }
  for (const wchar_t* arguments :
       {L"", L"--pipe", L"--pipe x --channels lots", L"--pipe x --bogus 1"}) {
    HostProcess host(arguments);
    ASSERT_TRUE(host.started());
    EXPECT_EQ(host.Wait(), 2u) << std::string(arguments, arguments + wcslen(arguments));
  }
}

TEST(TestHost, DurationEndsTheHostWithoutAnyClient) {
  const std::wstring name = UniqueName(L"duration");
  HostProcess host(L"--pipe " + name + L" --duration-ms 300");
  ASSERT_TRUE(host.started());
  EXPECT_EQ(host.Wait(), 0u);
  const std::vector<std::string> out = host.Output();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "exit");
  EXPECT_FALSE(HasLine(out, "connected"));
}

}  // namespace
