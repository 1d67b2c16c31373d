// Entry point of the Tessaly panel program: launch options, start-up and
// shutdown in their fixed order.

#include <windows.h>
#include <shellapi.h>

#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "panel/app_context.h"
#include "panel/frame_loop.h"
#include "panel/log_message.h"
#include "panel/options.h"
#include "panel/pipe_callback.h"
#include "panel/quenlo_library.h"
#include "panel/window_proc.h"

namespace tessaly {
namespace {

// Exit codes of the process.
constexpr int kExitOk = 0;
constexpr int kExitBadOptions = 2;
constexpr int kExitNoWindowClass = 3;
constexpr int kExitNoWindow = 4;
constexpr int kExitNoPipeClient = 5;

const wchar_t* const kCaption = L"Tessaly";

void error_box(HWND owner, const wchar_t* text) {
  ::MessageBoxW(owner, text, kCaption, MB_OK | MB_ICONERROR);
}

// Splits the process command line and reads the options. Null on success,
// else the text of the error box ("" when the line cannot be split).
const wchar_t* parse_command_line(Options& options) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr) return L"";
  const UniqueLocal owned(argv);
  return read_options(argc, argv, options);
}

// Clears g_app on every way out of run(), before the AppContext goes away.
struct GlobalAppGuard {
  explicit GlobalAppGuard(AppContext* app) { g_app = app; }
  GlobalAppGuard(const GlobalAppGuard&) = delete;
  GlobalAppGuard& operator=(const GlobalAppGuard&) = delete;
  ~GlobalAppGuard() { g_app = nullptr; }
};

bool register_window_class(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = 0;
  wc.lpfnWndProc = window_proc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = instance;
  wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = kWindowClass;
  wc.hIconSm = ::LoadIconW(nullptr, IDI_APPLICATION);
  return ::RegisterClassExW(&wc) != 0;
}

// Loads Quenlo.dll from the program's folder and creates the client. False
// when the library, one of its exports or the client is missing.
bool create_pipe_client(QuenloLibrary& quenlo, AppContext& app) {
  const std::wstring folder = program_folder();
  if (folder.empty() || !quenlo.load(folder + kQuenloFileName)) return false;
  Quenlo::IPipeClient* client = nullptr;
  const int32_t created = quenlo.create_pipe_client(&client);
  if (client != nullptr) app.client.reset(client);  // own any reference handed out
  return created != 0 && client != nullptr;
}

void run_message_loop() {
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

int run(HINSTANCE instance, int show) {
  Options options;
  if (const wchar_t* error = parse_command_line(options)) {
    error_box(nullptr, error);
    return kExitBadOptions;
  }

  // Declared before the context so the library stays loaded until the
  // client inside the context is released.
  QuenloLibrary quenlo;
  auto app = std::make_unique<AppContext>();
  const GlobalAppGuard global(app.get());

  if (!register_window_class(instance)) return kExitNoWindowClass;
  const HWND hwnd = ::CreateWindowExW(
      WS_EX_APPWINDOW, kWindowClass, L"Tessaly", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
      CW_USEDEFAULT, CW_USEDEFAULT, 860, 660, nullptr, nullptr, instance, app.get());
  if (hwnd == nullptr) return kExitNoWindow;
  ::ShowWindow(hwnd, show);
  ::UpdateWindow(hwnd);

  if (!create_pipe_client(quenlo, *app)) {
    error_box(hwnd, L"无法初始化互动连接，请确认 Quenlo.dll 与程序位于同一目录。");
    app->closing = true;
    ::DestroyWindow(hwnd);
    app->client.reset();  // a client handed out with a zero result was never created
    return kExitNoPipeClient;
  }

  quenlo.set_log_message_callback(log_message);
  app->client->SetCallback(pipe_callback, app.get());

  try {
    app->frame_thread = std::thread(frame_loop, std::ref(*app), quenlo.get_time_ns);
  } catch (const std::system_error&) {
    std::terminate();  // the program cannot run without its frame thread
  }

  if (!app->client->Create(options.pipeName.c_str(), options.maxChannels)) {
    error_box(hwnd, L"无法连接Halvory，请从互动工具入口重新启动。");
    app->stopping.exchange(true);
    app->closing = true;
    ::DestroyWindow(hwnd);  // posts the quit message: the loop below ends at once
  }

  run_message_loop();

  app->stopping.exchange(true);
  if (app->client) app->client->Destroy();
  if (app->frame_thread.joinable()) app->frame_thread.join();
  app->client.reset();
  app->ui_font.Reset();
  app->title_font.Reset();
  return kExitOk;  // g_app is cleared, then the context is destroyed
}

}  // namespace
}  // namespace tessaly

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/, int show) {
  return tessaly::run(instance, show);
}
