// test-host.exe, driven from this process as its client: what it prints
// for each event, what it sends, and how it ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

using namespace server_test;
using namespace test_support;

// FNV-1a of the bytes, as the host prints it.
std::string Checksum(const std::vector<uint8_t>& bytes) {
  uint32_t hash = 2166136261u;
  for (const uint8_t byte : bytes) hash = (hash ^ byte) * 16777619u;
  char text[9];
  std::snprintf(text, sizeof(text), "%08x", hash);
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
    ChildOptions options;
    options.output = output_.Get();
    started_ = process_.Start(L"\"" + BuildFolder() + L"test-host.exe\" " + arguments, options);
  }
  ~HostProcess() {
    process_.Kill();
    output_.Reset();
    ::DeleteFileW(output_path_.c_str());
  }
  bool started() const { return started_; }
  DWORD Wait() { return process_.Wait(); }
  // The lines printed so far.
  std::vector<std::string> Output() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadAll(output_path_));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  bool Printed(const std::string& line) const {
    const std::vector<std::string> out = Output();
    return std::find(out.begin(), out.end(), line) != out.end();
  }
  bool WaitForLine(const std::string& line) const {
    return WaitUntil([&] { return Printed(line); });
  }

 private:
  std::wstring output_path_;
  BrisqFramework::BrisqHandle output_;
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
  std::ofstream(std::filesystem::path(send_path), std::ios::binary)
      << "{\"a\":1}\r\n\n{\"\xe4\xb8\xad\":\"\xe6\x96\x87\"}\n";
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
  const Media media;
  ASSERT_EQ(c.client->WritePacket(&media.video, 80), 1);
  ASSERT_EQ(c.client->WritePacket(&media.audio, 5000), 1);
  EXPECT_TRUE(host.WaitForLine(
      "packet kind=video channel=0 width=900 height=180 format=12 flip=0 stride=3600 "
      "timestamp=1234605616436508552 bytes=648000 checksum=" +
      Checksum(media.pixels)));
  EXPECT_TRUE(host.WaitForLine(
      "packet kind=audio channel=0 info=48000 timestamp=1234605616436508553 bytes=4096 checksum=" +
      Checksum(media.samples)));
  EXPECT_TRUE(host.WaitForLine("message type=42 length=3 hex=00 01 0a"));

  c.client->Destroy();  // the host sees the break and ends
  EXPECT_EQ(host.Wait(), 0u);
  const std::vector<std::string> out = host.Output();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.front(), "listening pipe=" + std::string(name.begin(), name.end()) + " channels=1");
  for (const char* line :
       {"connected", "sent type=1 length=7 result=1", "sent type=1 length=13 result=1",
        "message type=7 length=8 text=hi there", "broken"}) {
    EXPECT_TRUE(host.Printed(line)) << line;
  }
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
  HostProcess host(L"--pipe " + UniqueName(L"duration") + L" --duration-ms 300");
  ASSERT_TRUE(host.started());
  EXPECT_EQ(host.Wait(), 0u);
  const std::vector<std::string> out = host.Output();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "exit");
  EXPECT_FALSE(host.Printed("connected"));
}

}  // namespace
