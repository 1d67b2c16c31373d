// Launch options and start-up failures as a user meets them: the real
// Tessaly.exe in a folder of its own, its message box and its exit code.
#include <gtest/gtest.h>

#include "panel_harness.h"

using namespace panel_test;

namespace {

const std::wstring kNoPipeName = L"缺少 pipeName。请从Halvory的互动工具入口启动本程序。";
const std::wstring kNoChannels = L"缺少 maxChannels。请从Halvory的互动工具入口启动本程序。";
const std::wstring kBadChannels = L"启动参数 maxChannels 无效。";
const std::wstring kNoLibrary = L"无法初始化互动连接，请确认 Quenlo.dll 与程序位于同一目录。";
const std::wstring kNoHost = L"无法连接Halvory，请从互动工具入口重新启动。";
const std::wstring kPanel = L"TessalyControlPanel";

// Starts the panel with `arguments`, answers its one message box and checks
// the box's text, its caption "Tessaly", the class of its owner (empty
// without owner) and the exit code.
void expect_box_and_exit(const PanelFolder& folder, const wchar_t* arguments,
                         const std::wstring& text, const std::wstring& owner, DWORD exit_code) {
  SCOPED_TRACE(::testing::Message()
               << "arguments: " << std::string(arguments, arguments + wcslen(arguments)));
  PanelProcess panel(folder, arguments);
  const HWND box = panel.message_box();
  wchar_t owner_class[64] = {};
  if (const HWND owner = ::GetWindow(box, GW_OWNER)) ::GetClassNameW(owner, owner_class, 64);
  EXPECT_EQ(box != nullptr ? window_text(box) : L"", L"Tessaly");
  EXPECT_EQ(owner_class, owner);
  EXPECT_EQ(take_message_box(box), text);
  EXPECT_EQ(panel.wait_exit(), exit_code);
}

}  // namespace

// Missing or bad options: an unowned box and exit code 2, before any library
// is looked for.
TEST(LaunchOptions, RejectedOptionsShowTheirTextAndExitWith2) {
  const struct {
    const wchar_t* arguments;
    const std::wstring& text;
  } cases[] = {
      {L"", kNoPipeName},
      {L"--pipeName= --maxChannels=1", kNoPipeName},
      {L"--PipeName=a --maxChannels=1", kNoPipeName},
      {L"-pipeName=a --maxChannels=1", kNoPipeName},
      {L"--pipeName=a", kNoChannels},
      {L"--pipeName=a --maxChannels=0", kBadChannels},
      {L"--pipeName=a --maxChannels=abc", kBadChannels},
      {L"--pipeName=a --maxChannels=", kBadChannels},
      {L"--pipeName=a --maxChannels=4294967296", kBadChannels},
      // A bad value stops the reading: later arguments are never seen, and
      // its text wins over the missing pipe name.
      {L"--maxChannels=abc", kBadChannels},
      {L"--pipeName=a --maxChannels=x --maxChannels=3", kBadChannels},
  };
  const PanelFolder folder(L"");
  for (const auto& c : cases) expect_box_and_exit(folder, c.arguments, c.text, L"", 2);
}

// Without a usable Quenlo.dll beside the program: the box, owned by the panel
// window, and exit code 5. Accepted options get this far.
TEST(LaunchOptions, MissingLibraryGivesItsBoxAndExit5) {
  const PanelFolder folder(L"");
  for (const wchar_t* arguments :
       {L"--pipeName=a --maxChannels=2", L"--pipeName=a --maxChannels=4abc"}) {
    expect_box_and_exit(folder, arguments, kNoLibrary, kPanel, 5);
  }
}

TEST(LaunchOptions, LibraryWithoutCreatePipeClientGivesItsBoxAndExit5) {
  const PanelFolder folder(L"fake_quenlo_no_client.dll");
  expect_box_and_exit(folder, L"--pipeName=a --maxChannels=1", kNoLibrary, kPanel, 5);
}

TEST(LaunchOptions, FailedCreateShowsItsBoxAndEndsWith0) {
  const PanelFolder folder(L"fake_quenlo.dll");
  folder.write(L"create_fails", "");
  expect_box_and_exit(folder, L"--pipeName=a --maxChannels=1", kNoHost, kPanel, 0);
}

// Accepted values reach Create as read by wcstoul; the program then runs until
// the library reports the disconnection, and ends with 0.
TEST(LaunchOptions, AcceptedValuesReachCreateAndDisconnectEndsWith0) {
  const struct {
    const wchar_t* arguments;
    const char* created;
  } cases[] = {
      {L"--pipeName=a --maxChannels=4abc", "a|4"},
      {L"--maxChannels=-1 \"--pipeName=b c\" --layoutMode=x --halvoryVersion=9", "b c|4294967295"},
      {L"--pipeName=x --maxChannels=2 --pipeName=y --maxChannels=3", "y|3"},
  };
  for (const auto& c : cases) {
    const PanelFolder folder(L"fake_quenlo.dll");
    PanelProcess panel(folder, c.arguments);
    ASSERT_NE(panel.panel(), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return folder.read(L"created.txt") == c.created; }))
        << folder.read(L"created.txt");
    folder.send(L"1.evt", "2");  // EVENT_DISCONNECTED
    EXPECT_EQ(panel.wait_exit(), 0u);
    EXPECT_EQ(folder.read(L"log_sink.txt"), "1");  // the sink keeps every line to itself
  }
}

// The manifest Windows reads when it starts the program (resource type 24,
// id 1): Common Controls 6, the supported systems, no elevation, and no DPI
// awareness (the layout is in fixed pixels; the system scales the window).
TEST(LaunchManifest, ProgramCarriesCommonControls6SupportedOsAsInvokerAndNoDpiAwareness) {
  const HMODULE module =
      ::LoadLibraryExW((BuildFolder() + L"Tessaly.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  std::string manifest;
  if (const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
    if (bytes != nullptr) manifest.assign(bytes, ::SizeofResource(module, found));
  }
  ::FreeLibrary(module);
  const auto has = [&](const std::string& text, std::size_t from = 0) {
    return manifest.find(text, from) != std::string::npos;
  };
  const std::size_t controls = manifest.find(R"(name="Microsoft.Windows.Common-Controls")");
  ASSERT_NE(controls, std::string::npos) << manifest;
  const std::string identity = manifest.substr(controls, manifest.find("/>", controls) - controls);
  EXPECT_NE(identity.find(R"(version="6.0.0.0")"), std::string::npos) << identity;
  EXPECT_NE(identity.find(R"(publicKeyToken="6595b64144ccf1df")"), std::string::npos) << identity;
  EXPECT_TRUE(has("<dependentAssembly>"));
  EXPECT_TRUE(has(R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)"));  // 10, 11
  EXPECT_TRUE(has(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"));
  EXPECT_FALSE(has("dpiAwareness"));
  const std::size_t dpi = manifest.find("<dpiAware ");
  if (dpi != std::string::npos) EXPECT_TRUE(has(">false</dpiAware>", dpi));
}
