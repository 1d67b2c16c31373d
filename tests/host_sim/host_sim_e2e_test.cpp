// host-sim.exe end to end under Wine: a real Tessaly.exe and Quenlo.dll,
// driven by the simulator, judged by its summary and its pictures.
#include <windows.h>
#include <shellapi.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "panel/live/minijson.h"
#include "tests/support/child_process.h"
#include "tests/support/unique_name.h"
#include "tools/common/launched_process.h"

namespace {

using test_support::BuildFolder;

std::string read_file(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint64_t number(const minijson::Value& object, const char* key) {
  const minijson::Value* member = object.get(key);
  return member != nullptr ? static_cast<uint64_t>(member->int64_or(-1)) : UINT64_MAX;
}

// A PNG decoded through WIC into 32-bit BGRA.
struct Picture {
  bool ok = false;
  UINT width = 0, height = 0;
  std::vector<BYTE> pixels;
};

Picture decode_png(const std::wstring& path) {
  Picture picture;
  IWICImagingFactory* factory = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr)) {
    hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                            WICDecodeMetadataCacheOnDemand, &decoder);
  }
  if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
  if (SUCCEEDED(hr)) {
    hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                               nullptr, 0.0, WICBitmapPaletteTypeCustom);
  }
  if (SUCCEEDED(hr)) hr = converter->GetSize(&picture.width, &picture.height);
  std::vector<BYTE>& pixels = picture.pixels;
  if (SUCCEEDED(hr)) {
    pixels.resize(static_cast<size_t>(picture.width) * picture.height * 4);
    hr = converter->CopyPixels(nullptr, picture.width * 4, static_cast<UINT>(pixels.size()),
                               pixels.data());
  }
  if (converter) converter->Release();
  if (frame) frame->Release();
  if (decoder) decoder->Release();
  if (factory) factory->Release();
  picture.ok = SUCCEEDED(hr);
  return picture;
}

// Each case runs host-sim.exe in a fresh folder under the temporary folder,
// removed with its contents at the end.
class HostSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    folder = std::wstring(temp) + test_support::UniqueName(L"host-sim") + L"\\";
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    ::CoUninitialize();
    // Processes that just ended may hold their files a moment longer.
    for (int attempt = 0; attempt < 20; ++attempt) {
      std::error_code error;
      std::filesystem::remove_all(folder, error);
      if (!error) return;
      ::Sleep(100);
    }
  }

  // Runs host-sim.exe with `arguments`: its exit code, its output (captured
  // in the folder) and the JSON object of its last "summary" line.
  void Run(const std::wstring& arguments, DWORD timeout_ms) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const std::wstring out_path = folder + L"stdout.txt";
    const std::wstring err_path = folder + L"stderr.txt";
    test_support::ChildOptions options;
    options.output = ::CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, 0, nullptr);
    options.error = ::CreateFileW(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, 0, nullptr);
    // Detached: no console (and no console host holding the files open).
    options.creation_flags = DETACHED_PROCESS;
    options.watchdog = std::chrono::milliseconds(timeout_ms) + std::chrono::seconds(10);
    exit_code = STILL_ACTIVE;
    test_support::ChildProcess child;
    if (child.Start(L"\"" + BuildFolder() + L"host-sim.exe\" " + arguments, options)) {
      exit_code = child.Wait(std::chrono::milliseconds(timeout_ms));
      child.Kill();
    }
    ::CloseHandle(options.output);
    ::CloseHandle(options.error);
    out = read_file(out_path);
    err = read_file(err_path);
    const size_t at = out.rfind("\nsummary ");
    std::string error;
    has_summary =
        at != std::string::npos &&
        minijson::parse(out.substr(at + 9, out.find('\n', at + 1) - at - 9), summary, error);
  }

  std::wstring folder;
  DWORD exit_code = STILL_ACTIVE;
  std::string out, err;
  bool has_summary = false;
  minijson::Value summary;
};

TEST_F(HostSimTest, DemoCountsEveryVoteOnceAndSavesTheViews) {
  const std::wstring out_dir = folder + L"out";
  // 40 distinct comments, 12 and 8 of them votes, 10 delivered twice.
  Run(L"--demo \"" + out_dir +
          L"\" --comments 40 --rate 40 --viewers 10 --duplicates 0.25 --seed 3",
      90000);
  ASSERT_EQ(exit_code, 0u) << out << err;
  ASSERT_TRUE(has_summary) << out;
  EXPECT_TRUE(summary.get("ok")->boolean);
  EXPECT_EQ(number(summary, "texts_sent"), 50u);
  EXPECT_EQ(number(summary, "comments_sent"), 50u);
  EXPECT_EQ(number(summary, "duplicates_sent"), 10u);
  EXPECT_GT(number(summary, "frames"), 10u);
  EXPECT_EQ(number(summary, "panel_exit_code"), 0u);
  const std::vector<minijson::Value>& votes = summary.get("votes")->items;
  ASSERT_EQ(votes.size(), 2u);
  EXPECT_EQ(number(votes[0], "counted"), 12u);
  EXPECT_EQ(number(votes[1], "counted"), 8u);
  EXPECT_FALSE(summary.get("confirmed")->text.empty());

  for (const wchar_t* name :
       {L"overlay-idle.png", L"overlay-results.png", L"overlay-comment.png", L"overlay.png"}) {
    const Picture picture = decode_png(out_dir + L"\\" + name);
    ASSERT_TRUE(picture.ok) << name;
    EXPECT_EQ(picture.width, 900u);
    EXPECT_EQ(picture.height, 180u);
    // The overlay's background colour (red 28, green 45, blue 57) in the
    // corner: the channels were not swapped on the way.
    EXPECT_EQ(std::vector<BYTE>(picture.pixels.begin(), picture.pixels.begin() + 4),
              (std::vector<BYTE>{57, 45, 28, 255}));
  }
  EXPECT_TRUE(decode_png(out_dir + L"\\control-panel.png").ok);
  EXPECT_NE(read_file(out_dir + L"\\quenlo.log").find("[PipeServer] Open(begin...)"),
            std::string::npos);
}

TEST_F(HostSimTest, ScenarioThatClosesThePanelEndsCleanly) {
  const std::wstring scenario = folder + L"closing.jsonl";
  std::ofstream(scenario.c_str(), std::ios::binary)
      << "# two comments, a focus request, then the host closes the panel\n"
         "{\"text\":{\"data\":[{\"msg_type_str\":\"live_comment\",\"msg_id\":\"a\","
         "\"content\":\"\xE4\xBD\xA0\xE5\xA5\xBD\"}]}}\n"
         "{\"delay_ms\":100,\"text\":\"{\\\"msg_type\\\":2,\\\"msg_id\\\":\\\"b\\\","
         "\\\"content\\\":\\\"hi\\\"}\"}\n"
         "{\"delay_ms\":100,\"text\":{\"eventName\":\"OPEN_WIN_FOCUS\"}}\n"
         "{\"delay_ms\":1000,\"text\":{\"eventName\":\"OPEN_WIN_CLOSE\"}}\n";
  Run(L"--scenario \"" + scenario + L"\" --out \"" + folder + L"out\" --sequence 2", 60000);
  ASSERT_EQ(exit_code, 0u) << out << err;
  ASSERT_TRUE(has_summary) << out;
  EXPECT_EQ(number(summary, "texts_sent"), 4u);
  EXPECT_EQ(number(summary, "comments_sent"), 2u);
  EXPECT_EQ(number(summary, "panel_exit_code"), 0u);
  EXPECT_NE(out.find("subscribe OPEN_WIN_CLOSE reqId=subscribe-OPEN_WIN_CLOSE-"),
            std::string::npos);
  EXPECT_TRUE(decode_png(folder + L"out\\overlay.png").ok);
  EXPECT_TRUE(decode_png(folder + L"out\\frames\\frame-000002.png").ok);
}

TEST_F(HostSimTest, BadInputIsNamedBeforeAnythingStarts) {
  const std::wstring scenario = folder + L"bad.jsonl";
  std::ofstream(scenario.c_str(), std::ios::binary) << "{\"text\":\"ok\"}\n{\"delay_ms\":5}\n";

  Run(L"--scenario \"" + scenario + L"\"", 20000);
  EXPECT_EQ(exit_code, 2u);
  EXPECT_NE(err.find("bad.jsonl:2: \"text\" is missing"), std::string::npos) << err;

  Run(L"--tessaly \"" + folder + L"none.exe\"", 20000);
  EXPECT_EQ(exit_code, 3u);
  EXPECT_NE(err.find("Tessaly.exe not found at "), std::string::npos) << err;

  Run(L"--rate", 20000);
  EXPECT_EQ(exit_code, 2u);
  EXPECT_EQ(err, "host-sim: --rate needs a value\r\n");  // a text-mode stream
}

// A panel that cannot start shows a modal box; host-sim reports its text
// instead of waiting for a connection that never comes.
TEST_F(HostSimTest, PanelErrorBoxIsReportedAtOnce) {
  ::CopyFileW((BuildFolder() + L"Tessaly.exe").c_str(), (folder + L"Tessaly.exe").c_str(), FALSE);
  Run(L"--tessaly \"" + folder + L"Tessaly.exe\" --connect-timeout-ms 60000", 40000);
  EXPECT_EQ(exit_code, 1u) << out << err;
  ASSERT_TRUE(has_summary) << out;
  const std::vector<minijson::Value>& failures = summary.get("failures")->items;
  ASSERT_FALSE(failures.empty());
  EXPECT_EQ(failures.back().text,
            "Tessaly.exe showed the message \"无法初始化互动连接，请确认 Quenlo.dll "
            "与程序位于同一目录。\"");
  EXPECT_EQ(number(summary, "panel_exit_code"), 5u);
}

}  // namespace

// The arguments a tool gives the programs it starts come back whole from the
// parser those programs use, whatever spaces, quotes and backslashes they hold.
TEST(LaunchCommandLine, EveryArgumentComesBackWholeFromCommandLineToArgvW) {
  const std::vector<std::wstring> arguments = {
      L"plain",  L"",       L"two words", L"say \"hi\"", L"C:\\out folder\\",
      L"a\\\\b", L"a\\\"b", L"\\\\\"",    L"\t",         L"--title=弹幕 投票"};
  EXPECT_EQ(quenlo_tools::QuoteArgument(L"--pipeName=a"), L"--pipeName=a");
  EXPECT_EQ(quenlo_tools::QuoteArgument(L"C:\\out folder\\"), L"\"C:\\out folder\\\\\"");
  int count = 0;
  LPWSTR* parsed = ::CommandLineToArgvW(
      quenlo_tools::CommandLine(L"C:\\a b\\Tessaly.exe", arguments).c_str(), &count);
  ASSERT_NE(parsed, nullptr);
  const std::vector<std::wstring> back(parsed + 1, parsed + count);
  EXPECT_EQ(parsed[0], std::wstring(L"C:\\a b\\Tessaly.exe"));
  ::LocalFree(parsed);
  EXPECT_EQ(back, arguments);
}
