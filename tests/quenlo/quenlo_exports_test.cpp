#include "Quenlo/Quenlo.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "BrisqFramework/Common/BrisqClock.h"
#include "BrisqFramework/Common/LogMessage.h"
#include "BrisqFramework/IO/BrisqMessagePumpIO.h"
#include "BrisqFramework/IO/BrisqSingleRunner.h"
#include "BrisqFramework/IO/BrisqThread.h"
#include "header_order.h"
#include "tests/support/child_process.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/log_capture.h"
#include "tests/support/wait_until.h"
#include "tools/common/quenlo_exports.h"

// The doubles below implement the interface method SendMessage, not
// <windows.h>'s macro of that name.
#undef SendMessage

namespace {

using test_support::LogCapture;
using test_support::LogClock;

// The DLL beside the test executable, loaded once for the process.
HMODULE Dll() {
  static HMODULE module = ::LoadLibraryW((test_support::BuildFolder() + L"Quenlo.dll").c_str());
  return module;
}

const quenlo_tools::QuenloExports& Exports() {
  static const quenlo_tools::QuenloExports exports = quenlo_tools::BindQuenloExports(Dll());
  return exports;
}

// --- Export table ------------------------------------------------------------

// Each export by name is the one at its ordinal, for the ordinals in [from, to].
void CheckExportsByName(int from, int to) {
  ASSERT_NE(nullptr, Dll());
  const char* names[] = {"CreatePipeClient",     "CreatePipeServer", "ChannelLayoutToChannels",
                         "AudioFormatToBits",    "GetTimeNS",        "QueryVersion",
                         "SetLogMessageCallback"};
  for (int ordinal = from; ordinal <= to; ++ordinal) {
    const char* name = names[ordinal - 1];
    FARPROC by_name = ::GetProcAddress(Dll(), name);
    EXPECT_NE(nullptr, by_name) << name;
    EXPECT_EQ(by_name, ::GetProcAddress(Dll(), MAKEINTRESOURCEA(ordinal)))
        << name << " @" << ordinal;
  }
}

TEST(ExportTable, EveryFunctionByOrdinalAndNameIsTheSame) { CheckExportsByName(3, 7); }

// Nothing else (such as an interface class member) may sit at 1 and 2.
TEST(ExportTable, OrdinalsOneAndTwoHoldOnlyTheFactories) { CheckExportsByName(1, 2); }

TEST(ExportTable, InterfaceClassesAreExported) {
  ASSERT_NE(nullptr, Dll());
  for (const char* name :
       {"_ZTVN6Quenlo10IMSUnknownE", "_ZTVN6Quenlo11IPipeClientE", "_ZN6Quenlo10IMSUnknownC2Ev",
        "_ZN6Quenlo11IPipeClientC2Ev", "_ZN6Quenlo11IPipeClientC2ERKS0_",
        "_ZN6Quenlo11IPipeClientC2EOS0_", "_ZN6Quenlo11IPipeClientaSERKS0_",
        "_ZN6Quenlo11IPipeClientaSEOS0_",
        // The same under the names of Microsoft's C++ ABI.
        "??0IMSUnknown@Quenlo@@QEAA@XZ", "??0IMSUnknown@Quenlo@@QEAA@AEBV01@@Z",
        "??0IMSUnknown@Quenlo@@QEAA@$$QEAV01@@Z", "??4IMSUnknown@Quenlo@@QEAAAEAV01@AEBV01@@Z",
        "??4IMSUnknown@Quenlo@@QEAAAEAV01@$$QEAV01@@Z", "??0IPipeClient@Quenlo@@QEAA@XZ",
        "??0IPipeClient@Quenlo@@QEAA@AEBV01@@Z", "??0IPipeClient@Quenlo@@QEAA@$$QEAV01@@Z",
        "??4IPipeClient@Quenlo@@QEAAAEAV01@AEBV01@@Z",
        "??4IPipeClient@Quenlo@@QEAAAEAV01@$$QEAV01@@Z",
        "?SendMessageW@IPipeClient@Quenlo@@QEAAHIPEBDI@Z",
        "?SendMessageA@IPipeClient@Quenlo@@QEAAHIPEBDI@Z", "??_7IMSUnknown@Quenlo@@6B@",
        "??_7IPipeClient@Quenlo@@6B@"}) {
    EXPECT_NE(nullptr, ::GetProcAddress(Dll(), name)) << name;
  }
}

// The DLL must run on a machine without the MinGW runtime DLLs.
TEST(ExportTable, ImportsOnlySystemLibraries) {
  ASSERT_NE(nullptr, Dll());
  const auto* base = reinterpret_cast<const BYTE*>(Dll());
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  ASSERT_NE(0u, dir.VirtualAddress);
  int imports = 0;
  for (const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       d->Name != 0; ++d, ++imports) {
    std::string name = reinterpret_cast<const char*>(base + d->Name);
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(0u, name.rfind("lib", 0)) << "runtime DLL imported: " << name;
  }
  EXPECT_GT(imports, 0);
}

// --- Audio tables ------------------------------------------------------------

// `lookup` answers `expected[v]` for every v of its table, 0 past it.
void CheckTable(uint32_t (*lookup)(uint32_t), const std::vector<uint32_t>& expected) {
  ASSERT_NE(nullptr, lookup);
  for (uint32_t v = 0; v < expected.size(); ++v) EXPECT_EQ(expected[v], lookup(v)) << "value " << v;
  EXPECT_EQ(0u, lookup(static_cast<uint32_t>(expected.size())));
  EXPECT_EQ(0u, lookup(0xFFFFFFFFu));
}

TEST(AudioTables, ChannelLayoutsWholeTableAndOutside) {
  // Layout 4 is "3.0": 3 channels.
  CheckTable(Exports().channel_layout_to_channels,
             {0, 1, 2, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 6, 6, 6, 7, 7, 7, 8, 8});
}

TEST(AudioTables, FormatBitsWholeTableAndOutside) {
  // Format 4 is "flt": 32 bits.
  CheckTable(Exports().audio_format_to_bits, {0, 8, 16, 32, 32, 8, 16, 32, 32});
}

// --- Version and clock ----------------------------------------------------------

TEST(Version, SameStaticTextEveryCall) {
  auto version = Exports().query_version;
  ASSERT_NE(nullptr, version);
  const char* first = version();
  EXPECT_STREQ("1.0.0", first);
  EXPECT_EQ(first, version());
}

TEST(Clock, AdvancesInNanoseconds) {
  auto now = Exports().get_time_ns;
  ASSERT_NE(nullptr, now);
  const uint64_t a = now();
  ::Sleep(50);
  const uint64_t b = now();
  EXPECT_GE(b - a, 40000000u);
  EXPECT_LT(b - a, 5000000000u);
}

// The DLL's clock and the one the library's code uses internally are one
// clock: time stamps from both can be compared.
TEST(Clock, ExportIsTheLibraryClock) {
  auto now = Exports().get_time_ns;
  ASSERT_NE(nullptr, now);
  const uint64_t a = now();
  const uint64_t b = BrisqFramework::GetTimeNS();
  const uint64_t c = now();
  EXPECT_LE(a, b);
  EXPECT_LE(b, c);
}

// --- Log sink forwarding (the library's code, linked in) ----------------------------

// What the host's sink and the log file got. Logging is synchronous: both run
// on the thread that logs, here the test's own.
std::vector<std::string> g_sink_lines;
std::string g_file;
int32_t g_sink_answer = 1;

int32_t HostSink(int32_t level, const char* file, int32_t line, const char* text) {
  g_sink_lines.push_back(std::to_string(level) + "|" + (file ? file : "<null>") + "|" +
                         std::to_string(line) + "|" + text);
  return g_sink_answer;
}

void FileWriter(const char* data, size_t size) { g_file.append(data, size); }

class LogForwarding : public ::testing::Test {
 protected:
  void SetUp() override {
    g_sink_lines.clear();
    g_file.clear();
    g_sink_answer = 1;
  }
  void TearDown() override {
    SetLogMessageCallback(nullptr);
    BrisqFramework::SetLogFileWriter(nullptr);
  }
  LogCapture capture_{LogClock::kDriven};  // fixed headers; its own sink is replaced below
};

TEST_F(LogForwarding, SinkGetsTheFourValues) {
  SetLogMessageCallback(&HostSink);
  { BrisqFramework::LogMessage("Unit.cpp", 12, 2).stream() << "Failed to X"; }
  BRISQ_LOG(INFO) << "note";
  ASSERT_EQ(2u, g_sink_lines.size());
  EXPECT_EQ("2|Unit.cpp|12|[11:22:2024-01-02/03:04:05.006:ERROR] Unit.cpp(12)] : Failed to X\n",
            g_sink_lines[0]);
  EXPECT_EQ("0|<null>|0|[11:22:2024-01-02/03:04:05.006:INFO] : note\n", g_sink_lines[1]);
}

TEST_F(LogForwarding, SinkAnswerDecidesTheFile) {
  BrisqFramework::SetLogFileWriter(&FileWriter);
  SetLogMessageCallback(&HostSink);
  BRISQ_LOG(INFO) << "handled";
  g_sink_answer = 0;
  BRISQ_LOG(INFO) << "declined";
  EXPECT_EQ(2u, g_sink_lines.size());
  EXPECT_EQ("[11:22:2024-01-02/03:04:05.006:INFO] : declined\n", g_file);
}

TEST_F(LogForwarding, NullCallbackSilencesSinkAndKeepsFile) {
  BrisqFramework::SetLogFileWriter(&FileWriter);
  SetLogMessageCallback(&HostSink);
  SetLogMessageCallback(nullptr);
  BRISQ_LOG(INFO) << "to file";
  EXPECT_TRUE(g_sink_lines.empty());
  EXPECT_EQ("[11:22:2024-01-02/03:04:05.006:INFO] : to file\n", g_file);
}

// --- Interfaces: identifiers and slot order -----------------------------------------

std::string Format(const Quenlo::InterfaceId& id) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1],
                id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
  return text;
}

TEST(InterfaceIds, RegistryNotation) {
  EXPECT_EQ("{892AE566-FFE4-47FA-88BA-14AA593544F5}", Format(Quenlo::IID_IMSUnknown));
  EXPECT_EQ("{56447627-DC77-4A12-A1F3-81E95D850438}", Format(Quenlo::IID_IPipeClient));
  EXPECT_EQ("{7ABC37DF-6336-49CB-AF58-3A5BC39BB446}", Format(Quenlo::IID_IPipeServer));
  EXPECT_TRUE(Quenlo::IsSameInterfaceId(Quenlo::IID_IPipeClient, Quenlo::IID_IPipeClient));
  EXPECT_FALSE(Quenlo::IsSameInterfaceId(Quenlo::IID_IPipeClient, Quenlo::IID_IPipeServer));
  EXPECT_EQ(static_cast<int32_t>(0x80004002u), Quenlo::kNoInterface);
}

// Each operation answers with its slot number, so a call through the raw
// table of virtual operations shows which slot the header put it in.
struct SlotRecorder {
  int last = -1;
  int Hit(int slot) {
    last = slot;
    return 0;
  }
};

class SlotClient : public Quenlo::IPipeClient, public SlotRecorder {
 public:
  uint32_t AddRef() override { return Hit(0); }
  uint32_t Release() override { return Hit(1); }
  int32_t QueryInterface(const Quenlo::InterfaceId&, void**) override { return Hit(2); }
  uint32_t IsConnected() override { return Hit(3); }
  void SetCallback(PipeCallback, void*) override { Hit(4); }
  int32_t Create(const wchar_t*, uint32_t) override { return Hit(5); }
  void Destroy() override { Hit(6); }
  int32_t SendMessage(uint32_t, const char*, uint32_t) override { return Hit(7); }
  int32_t WritePacket(const MediaPacket*, uint32_t) override { return Hit(8); }
  int32_t WritePacketAsync(const MediaPacket*) override { return Hit(9); }
};

class SlotServer : public Quenlo::IPipeServer, public SlotRecorder {
 public:
  uint32_t AddRef() override { return Hit(0); }
  uint32_t Release() override { return Hit(1); }
  int32_t QueryInterface(const Quenlo::InterfaceId&, void**) override { return Hit(2); }
  uint32_t IsConnected() override { return Hit(3); }
  void SetCallback(PipeCallback, void*) override { Hit(4); }
  int32_t Open(const wchar_t*, uint32_t) override { return Hit(5); }
  void Close() override { Hit(6); }
  int32_t SendMessage(uint32_t, const char*, uint32_t) override { return Hit(7); }
  int32_t OpenLogFile(const wchar_t*) override { return Hit(8); }
};

void* Slot(void* object, int index) { return (*reinterpret_cast<void***>(object))[index]; }

template <typename Fn, typename... Args>
void CallSlot(void* object, int index, Args... args) {
  reinterpret_cast<Fn>(Slot(object, index))(object, args...);
}

// Slots 0-7 have the same signatures in both interfaces (5 takes a name and
// a count: Create and Open; 6 takes nothing: Destroy and Close).
void CheckSharedSlots(void* object, const SlotRecorder& recorder) {
  using NoArgs = void (*)(void*);
  for (int slot : {0, 1, 3, 6}) {
    CallSlot<NoArgs>(object, slot);
    EXPECT_EQ(slot, recorder.last);
  }
  void* out = nullptr;
  CallSlot<int32_t (*)(void*, const Quenlo::InterfaceId&, void**)>(object, 2,
                                                                   Quenlo::IID_IMSUnknown, &out);
  EXPECT_EQ(2, recorder.last);
  CallSlot<void (*)(void*, PipeCallback, void*)>(object, 4, PipeCallback(nullptr), out);
  EXPECT_EQ(4, recorder.last);
  CallSlot<int32_t (*)(void*, const wchar_t*, uint32_t)>(object, 5, L"x", 1u);
  EXPECT_EQ(5, recorder.last);
  CallSlot<int32_t (*)(void*, uint32_t, const char*, uint32_t)>(object, 7, 1u, "d", 1u);
  EXPECT_EQ(7, recorder.last);
}

TEST(InterfaceSlots, ClientOperationsInTheirSlots) {
  SlotClient client;
  void* object = static_cast<Quenlo::IPipeClient*>(&client);
  CheckSharedSlots(object, client);
  MediaPacket packet = {};
  CallSlot<int32_t (*)(void*, const MediaPacket*, uint32_t)>(object, 8, &packet, 80u);
  EXPECT_EQ(8, client.last);
  CallSlot<int32_t (*)(void*, const MediaPacket*)>(object, 9, &packet);
  EXPECT_EQ(9, client.last);
}

TEST(InterfaceSlots, ServerOperationsInTheirSlots) {
  SlotServer server;
  void* object = static_cast<Quenlo::IPipeServer*>(&server);
  CheckSharedSlots(object, server);
  CallSlot<int32_t (*)(void*, const wchar_t*)>(object, 8, L"p");
  EXPECT_EQ(8, server.last);
}

// A call written SendMessage reaches slot 7 whether <windows.h> (which makes
// SendMessage a macro) came before Quenlo.h or after it.
TEST(InterfaceSlots, SendMessageReachesSlotSevenInEitherIncludeOrder) {
  for (auto send : {SendWithWindowsFirst, SendWithWindowsAfter}) {
    SlotServer server;
    SlotClient client;
    EXPECT_EQ(0, send(&server, &client));
    EXPECT_EQ(7, server.last);
    EXPECT_EQ(7, client.last);
  }
}

// --- No exception crosses a boundary (allocation failures injected) ------------------

bool Logged(const LogCapture& capture, const std::string& message) {
  return capture.Count(BrisqFramework::kLogError, message) > 0;
}

// One allocation that the compiler cannot leave out.
std::atomic<void*> g_escape{nullptr};
void Allocate() {
  g_escape.store(::operator new(64));
  ::operator delete(g_escape.exchange(nullptr));
}

// Work whose first allocation fails.
void FailingWork() {
  test_support::ScopedAllocationFailure failure(1);
  Allocate();
}

class CountingObserver : public BrisqFramework::IO::BrisqMessagePumpIO::Observer {
 public:
  void OnCompletion(OVERLAPPED*, DWORD, DWORD) override {
    if (calls.fetch_add(1) == 0) FailingWork();  // only the first one fails
  }
  std::atomic<int> calls{0};
};

}  // namespace

TEST(Boundaries, ExportsReturnZeroAndHandOutNothing) {
  LogCapture capture{LogClock::kDriven};
  Quenlo::IPipeClient* client = reinterpret_cast<Quenlo::IPipeClient*>(1);
  Quenlo::IPipeServer* server = reinterpret_cast<Quenlo::IPipeServer*>(1);
  {
    test_support::ScopedAllocationFailure failure(1);
    EXPECT_EQ(CreatePipeClient(&client), 0);
  }
  {
    test_support::ScopedAllocationFailure failure(1);
    EXPECT_EQ(CreatePipeServer(&server), 0);
  }
  EXPECT_EQ(client, nullptr);
  EXPECT_EQ(server, nullptr);
  EXPECT_TRUE(Logged(capture, "Failed to CreatePipeClient: out of memory"));
  EXPECT_TRUE(Logged(capture, "Failed to CreatePipeServer: out of memory"));
}

// Every allocation of Create fails in turn: Create returns 0 (or 1 once none
// failed), and Destroy and Release still leave nothing running.
TEST(Boundaries, InterfaceMethodReturnsItsFailureValue) {
  LogCapture capture{LogClock::kDriven};
  const std::wstring name = L"boundary-" + std::to_wstring(::GetCurrentProcessId());
  Quenlo::IPipeServer* server = nullptr;
  ASSERT_EQ(CreatePipeServer(&server), 1);
  server->Open(name.c_str(), 1);
  bool failed = true;
  int failures = 0;
  for (int n = 1; failed; ++n) {
    SCOPED_TRACE(n);
    Quenlo::IPipeClient* client = nullptr;
    ASSERT_EQ(CreatePipeClient(&client), 1);
    int32_t created = 0;
    {
      test_support::ScopedAllocationFailure failure(n);
      created = client->Create(name.c_str(), 1);
      failed = test_support::AllocationFailed();
    }
    EXPECT_EQ(created, failed ? 0 : 1);
    failures += failed ? 1 : 0;
    client->Destroy();
    EXPECT_EQ(client->Release(), 0u);
  }
  EXPECT_GT(failures, 3);
  EXPECT_TRUE(Logged(capture, "Failed to PipeClient::Create: out of memory"));
  server->Close();
  server->Release();
}

TEST(Boundaries, ThreadTaskAndCompletionDropOnlyTheirWork) {
  LogCapture capture{LogClock::kDriven};
  BrisqFramework::IO::BrisqThread thread;
  ASSERT_TRUE(thread.Submit(&FailingWork));
  EXPECT_TRUE(thread.Close(10000));  // ended normally; the process lives on
  EXPECT_TRUE(Logged(capture, "Failed to BrisqThread::Run: out of memory"));

  BrisqFramework::IO::BrisqSingleRunner runner;
  ASSERT_TRUE(runner.Open());
  std::atomic<bool> next_ran{false};
  ASSERT_TRUE(runner.Submit(&FailingWork));
  ASSERT_TRUE(runner.Submit([&] { next_ran = true; }));
  runner.Close();
  EXPECT_TRUE(next_ran.load());
  EXPECT_TRUE(Logged(capture, "Failed to BrisqSingleRunner::RunTask: out of memory"));

  BrisqFramework::IO::BrisqMessagePumpIO pump;
  CountingObserver observer;
  OVERLAPPED first{}, second{};
  ASSERT_TRUE(pump.Open());
  ASSERT_TRUE(pump.PostTask(&first, &observer));
  ASSERT_TRUE(pump.PostTask(&second, &observer));
  test_support::WaitUntil([&] { return observer.calls.load() >= 2; },
                          std::chrono::milliseconds(5000), std::chrono::milliseconds(10));
  pump.Close();
  EXPECT_EQ(observer.calls.load(), 2);
  EXPECT_TRUE(Logged(capture, "Failed to BrisqMessagePumpIO::OnCompletion: out of memory"));
}
