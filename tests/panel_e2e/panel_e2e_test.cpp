// The real Tessaly.exe and the real Quenlo.dll in one folder, against a host
// built on Quenlo's pipe server (this test process, or test-host.exe).
//
// Fleeting states (a status text that lives for a few milliseconds before
// the window goes, the order in which the UI thread took the host link's
// messages) are read through panel_trace.dll, hooked onto the panel's UI
// thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "panel/live/interaction_engine.h"
#include "panel/overlay_renderer.h"
#include "tests/panel/panel_harness.h"
#include "tests/support/event_recorder.h"
#include "tests/support/unique_name.h"
#include "tools/panel-bench/quenlo_host.h"

using namespace panel_test;
using namespace std::chrono_literals;

namespace {

const std::wstring kConnecting = L"正在连接Halvory…";
const std::wstring kConnected = L"已连接Halvory，正在接收互动评论。";
const char kConnectedUtf8[] = "已连接Halvory，正在接收互动评论。";
const char kBrokenUtf8[] = "连接暂时中断，等待Halvory恢复连接…";
const char kDisconnectedUtf8[] = "Halvory已断开，插件将安全退出。";

std::string comment(const std::string& id, const std::string& user, const std::string& content) {
  return R"({"msg_type_str":"live_comment","msg_id":")" + id + R"(","sec_open_id":")" + user +
         R"(","nickname":"n","content":")" + content + R"(","timestamp":1})";
}

// panel_trace.dll's hooks on the UI thread of the panel owning `window`.
class PanelTrace {
 public:
  explicit PanelTrace(HWND window)
      : module_(::LoadLibraryW((BuildFolder() + L"panel_trace.dll").c_str())) {
    const DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
    if (module_ == nullptr || thread == 0) return;
    auto proc = [&](const char* name) {
      return reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
    };
    call_ = ::SetWindowsHookExW(WH_CALLWNDPROC, proc("trace_call_wnd_proc"), module_, thread);
    get_ = ::SetWindowsHookExW(WH_GETMESSAGE, proc("trace_get_message"), module_, thread);
  }
  ~PanelTrace() {
    if (call_ != nullptr) ::UnhookWindowsHookEx(call_);
    if (get_ != nullptr) ::UnhookWindowsHookEx(get_);
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  PanelTrace(const PanelTrace&) = delete;
  PanelTrace& operator=(const PanelTrace&) = delete;

  bool installed() const { return call_ != nullptr && get_ != nullptr; }

  // The trace's lines, read from the panel's folder.
  static std::vector<std::string> lines(const PanelFolder& folder) {
    std::vector<std::string> out;
    std::istringstream in(folder.read(L"panel-trace.txt"));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }

 private:
  HMODULE module_;
  HHOOK call_ = nullptr;
  HHOOK get_ = nullptr;
};

class PanelEndToEnd : public ::testing::Test {
 protected:
  PanelEndToEnd() {
    // Plane 0 of a video packet is valid only during the call.
    record.inspect = [this](test_support::PipeEvent& e, const char*, std::uint32_t) {
      const MediaPacket& p = e.packet;
      const std::size_t bytes = std::size_t(p.height) * std::size_t(p.linesize[0]);
      if (p.data[0] == nullptr || p.linesize[0] <= 0 || bytes > 1920u * 1080u * 4u) return;
      std::lock_guard<std::mutex> hold(pixels_lock);
      last_pixels.assign(p.data[0], p.data[0] + bytes);
    };
  }
  bool open_host() { return host.open(BuildFolder() + L"Quenlo.dll", pipe, 1); }
  void start_panel(bool inherit_handles = false) {
    panel = std::make_unique<PanelProcess>(folder, L"--pipeName=" + pipe + L" --maxChannels=1",
                                           inherit_handles);
    window = panel->panel();
  }
  // The host side is up once the panel's three requests arrived: the
  // panel's callback is then known to be installed and connected.
  bool subscribed() { return record.WaitForCount(EVENT_MESSAGE, 3, kAnyType, 10s); }
  bool sends_picture(const std::vector<std::uint8_t>& picture, std::chrono::milliseconds timeout) {
    return record.WaitFor(
        [&](const std::vector<test_support::PipeEvent>&) {
          std::lock_guard<std::mutex> hold(pixels_lock);
          return last_pixels == picture;
        },
        timeout);
  }
  bool send(const std::string& json) { return host.send(1, json); }
  HWND item(int id) const { return ::GetDlgItem(window, id); }
  void click(int id) const { ::PostMessageW(item(id), BM_CLICK, 0, 0); }
  bool shows(int id, const std::wstring& text) const {
    return WaitUntil([&] { return item_text(window, id) == text; }, 10s);
  }

  static constexpr std::uint32_t kAnyType = test_support::EventRecorder::kAnyType;
  std::wstring pipe = test_support::UniqueName(L"e2e");
  // What the host saw, and plane 0 of the last video packet; both outlive the
  // host, whose threads fill them.
  test_support::EventRecorder record;
  std::mutex pixels_lock;
  std::vector<std::uint8_t> last_pixels;
  panel_host::QuenloHost host{
      [this](IPC_EVENT_TYPE event, std::uint32_t type, const char* data, std::uint32_t length) {
        test_support::EventRecorder::Callback(event, type, data, length, &record);
      }};
  PanelFolder folder{L"Quenlo.dll"};
  std::unique_ptr<PanelProcess> panel;
  HWND window = nullptr;
};

TEST_F(PanelEndToEnd, SubscribesToTheThreeEventsInOrderWithFreshIdentifiers) {
  ASSERT_TRUE(open_host());
  const std::int64_t before = unix_ms();
  start_panel();
  ASSERT_TRUE(subscribed());
  const std::int64_t after = unix_ms();

  std::vector<std::pair<std::uint32_t, std::string>> sent;
  for (const auto& e : record.Of(EVENT_MESSAGE)) sent.emplace_back(e.type, e.data);
  EXPECT_EQ(sent.size(), 3u);
  EXPECT_EQ(subscriptions_fault(sent, before, after), "");
}

TEST_F(PanelEndToEnd, StatusLineFollowsConnectBreakAndDisconnectAndTheProgramEndsWithZero) {
  start_panel();  // before the host serves the pipe: the client keeps trying
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(item_text(window, 100), kConnecting);
  const PanelTrace trace(window);
  ASSERT_TRUE(trace.installed());

  ASSERT_TRUE(open_host());
  EXPECT_TRUE(shows(100, kConnected));
  host.close();  // the host goes away: the pipe breaks under the panel
  EXPECT_EQ(panel->wait_exit(15s), 0u);

  std::vector<std::string> statuses;
  for (const std::string& line : PanelTrace::lines(folder)) {
    if (line.rfind("status ", 0) == 0) statuses.push_back(line.substr(7));
  }
  EXPECT_EQ(statuses, (std::vector<std::string>{kConnectedUtf8, kBrokenUtf8, kDisconnectedUtf8}));
}

TEST_F(PanelEndToEnd, HostProcessThatDiesEndsTheProgramWithZero) {
  // Not inheriting handles: the panel must see the host's pipe end vanish.
  test_support::ChildProcess host_process;
  test_support::ChildOptions options;
  options.creation_flags = CREATE_NO_WINDOW;
  ASSERT_TRUE(
      host_process.Start(L"\"" + BuildFolder() + L"test-host.exe\" --pipe " + pipe, options));
  start_panel();
  const bool connected = window != nullptr && shows(100, kConnected);
  host_process.Kill();
  ASSERT_TRUE(connected);
  EXPECT_EQ(panel->wait_exit(15s), 0u);
}

// A host that captures its children's output starts the panel inheriting
// its handles; the server's end must not be among them, or the panel never
// sees the host go.
TEST_F(PanelEndToEnd, HostThatLetThePanelInheritHandlesEndsItWithinTwoSeconds) {
  ASSERT_TRUE(open_host());
  const std::wstring path = L"\\\\.\\pipe\\ipc." + pipe;
  ASSERT_TRUE(WaitUntil([&] { return ::WaitNamedPipeW(path.c_str(), 1) != FALSE; }));
  start_panel(/*inherit_handles=*/true);
  ASSERT_TRUE(window != nullptr && shows(100, kConnected));
  host.close();  // the host's end goes, as when the host process dies
  // Without the mend the panel never ends. Under Wine on a loaded machine
  // the panel takes about 2.1 s from the host's end to its own, with or
  // without inheritance, so the bound here leaves room for that.
  EXPECT_EQ(panel->wait_exit(4s), 0u);
}

TEST_F(PanelEndToEnd, RepeatedMessageIdCountsOnce) {
  ASSERT_TRUE(open_host());
  start_panel();
  ASSERT_TRUE(subscribed());
  click(106);  // start the default vote: tokens 1 and 2
  ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(item(107)) != FALSE; }));

  // Twice within one text, once more in a later one; other viewers, so
  // only the message id makes them one.
  ASSERT_TRUE(send("[" + comment("m1", "u1", "1") + "," + comment("m1", "u2", "1") + "]"));
  ASSERT_TRUE(send(comment("m1", "u3", "1")));
  // The last text's vote shows that everything before it was taken.
  ASSERT_TRUE(send(comment("m2", "u4", "2")));
  ASSERT_TRUE(shows(110, L"2  选项二：1 票"));
  EXPECT_EQ(item_text(window, 109), L"1  选项一：1 票");
}

TEST_F(PanelEndToEnd, FocusAndCloseInOneTextBringForwardThenCloseAndCountNothing) {
  ASSERT_TRUE(open_host());
  start_panel();
  ASSERT_TRUE(subscribed());
  const PanelTrace trace(window);
  ASSERT_TRUE(trace.installed());
  ::PostMessageW(window, WM_CLOSE, 0, 0);  // the close box only hides the panel
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(window); }));

  ASSERT_TRUE(send(R"({"eventName":"OPEN_WIN_FOCUS","data":[)" + comment("c1", "u1", "1") + "," +
                   comment("c2", "u2", "hello") + R"(],"notice":{"eventName":"OPEN_WIN_CLOSE"}})"));
  EXPECT_EQ(panel->wait_exit(15s), 0u);

  // From the hiding on: the focus request (WM_APP + 4) shows the panel,
  // then the close request (WM_APP + 5); no comment (WM_APP + 1) at all.
  std::vector<std::string> lines = PanelTrace::lines(folder);
  const auto hidden = std::find(lines.begin(), lines.end(), "show 0");
  ASSERT_NE(hidden, lines.end());
  std::vector<std::string> after(hidden + 1, lines.end());
  ASSERT_GE(after.size(), 3u);
  after.resize(3);
  EXPECT_EQ(after, (std::vector<std::string>{"app 4", "show 1", "app 5"}));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "app 1"), 0);
}

TEST_F(PanelEndToEnd, VideoPacketsCarryTheIdlePictureAboutTenTimesASecond) {
  ASSERT_TRUE(open_host());
  start_panel();
  ASSERT_TRUE(record.WaitForCount(EVENT_PACKET, 1, kAnyType, 10s));
  std::this_thread::sleep_for(2s);

  const auto packets = record.Of(EVENT_PACKET);
  const auto connected = record.Of(EVENT_CONNECTED);
  ASSERT_FALSE(connected.empty());
  // Sending starts with the link, with the picture drawn at start-up.
  EXPECT_LT(packets.front().at - connected.back().at, 1s);
  const auto window_start = packets.back().at - 2s;
  const auto in_window = std::count_if(packets.begin(), packets.end(),
                                       [&](const auto& e) { return e.at > window_start; });
  EXPECT_GE(in_window, 12);
  EXPECT_LE(in_window, 22);

  const MediaPacket& p = packets.back().packet;
  std::uint32_t head[13];  // kind to format, then the three words carried in reserved40
  std::memcpy(head, &p, sizeof head);
  EXPECT_EQ(std::vector<std::uint32_t>(head, head + 13),
            (std::vector<std::uint32_t>{2, 0, 0, 0, 900, 180, 0, 10, 1, 12, 2, 7, 2}));
  EXPECT_EQ(p.linesize[0], 3600);
  EXPECT_EQ(p.audio_bytes, 648000u);
  EXPECT_GT(p.timestamp, packets.front().packet.timestamp);

  const std::vector<std::uint8_t> idle =
      tessaly::render_overlay(0, tessaly::InteractionEngine(), L"");
  ASSERT_EQ(idle.size(), 648000u);
  std::lock_guard<std::mutex> hold(pixels_lock);
  EXPECT_TRUE(last_pixels == idle);
}

TEST_F(PanelEndToEnd, VideoPacketsFollowTheCurrentPicture) {
  ASSERT_TRUE(open_host());
  start_panel();
  const tessaly::InteractionEngine engine;
  const std::vector<std::uint8_t> idle = tessaly::render_overlay(0, engine, L"");
  const std::vector<std::uint8_t> results = tessaly::render_overlay(1, engine, L"");
  ASSERT_EQ(results.size(), 648000u);
  ASSERT_TRUE(sends_picture(idle, 10s));
  click(108);  // show results: the overlay switches to the default vote's rows
  EXPECT_TRUE(sends_picture(results, 3s));
}

}  // namespace
