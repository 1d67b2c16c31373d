// A program built in Microsoft's C++ ABI that derives from Quenlo's exported
// interface classes as such a compiler imports them (__declspec(dllimport),
// through Quenlo.lib): its objects are built, copied and assigned by the
// DLL's members under Microsoft's decorated names, and called through their
// tables, also from inside the DLL. <windows.h> comes first, so SendMessage
// is a macro here. Prints one line per failed check; exit code 0 when all
// passed.
#include <windows.h>

#include "Quenlo/Quenlo.h"
#include "host_check.h"

namespace {

using host_check::Check;
using host_check::Say;

// A test double of the client interface, as a host's own tests would write.
class RecordingClient : public Quenlo::IPipeClient {
 public:
  explicit RecordingClient(uint32_t tag) : tag_(tag) {}
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override { return --refs_; }
  int32_t QueryInterface(const Quenlo::InterfaceId& iid, void** out) override {
    *out = Quenlo::IsSameInterfaceId(iid, Quenlo::IID_IPipeClient) ? this : nullptr;
    return *out != nullptr ? Quenlo::kQueryInterfaceOk : Quenlo::kNoInterface;
  }
  uint32_t IsConnected() override { return tag_; }
  void SetCallback(PipeCallback, void*) override {}
  int32_t Create(const wchar_t*, uint32_t channels) override { return channels == 1; }
  void Destroy() override {}
#pragma push_macro("SendMessage")
#undef SendMessage
  int32_t SendMessage(uint32_t type, const char*, uint32_t length) override {
    last_sent_ = type + length;
    return 1;
  }
#pragma pop_macro("SendMessage")
  int32_t WritePacket(const MediaPacket*, uint32_t) override { return 0; }
  int32_t WritePacketAsync(const MediaPacket*) override { return 0; }

  uint32_t tag_;
  uint32_t refs_ = 1;
  uint32_t last_sent_ = 0;
};

// Derives from the base class alone, which imports its members too.
class Counter : public Quenlo::IMSUnknown {
 public:
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override { return --refs_; }
  int32_t QueryInterface(const Quenlo::InterfaceId&, void** out) override {
    *out = nullptr;
    return Quenlo::kNoInterface;
  }
  uint32_t refs_ = 5;
};

typedef void* (*Construct)(void* self);
typedef void* (*ConstructFrom)(void* self, const void* source);

template <typename Fn>
Fn Export(HMODULE dll, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

// The DLL's members by their decorated names: each constructor installs the
// class's table and returns the object; the table's `slots` entries are all
// the same pure call handler; assignments return the object.
void CheckMembers(HMODULE dll, const char* ctor, const char* copy, const char* move,
                  const char* assign, const char* move_assign, const char* table, int slots) {
  void* object[2] = {nullptr, nullptr};
  void* other[2] = {nullptr, nullptr};
  const void* vftable = reinterpret_cast<const void*>(GetProcAddress(dll, table));
  Check(vftable != nullptr, table);
  Construct construct = Export<Construct>(dll, ctor);
  Check(construct != nullptr && construct(object) == object && object[0] == vftable, ctor);
  ConstructFrom from = Export<ConstructFrom>(dll, copy);
  Check(from != nullptr && from(other, object) == other && other[0] == vftable, copy);
  other[0] = nullptr;
  from = Export<ConstructFrom>(dll, move);
  Check(from != nullptr && from(other, object) == other && other[0] == vftable, move);
  object[1] = reinterpret_cast<void*>(77);
  from = Export<ConstructFrom>(dll, assign);
  Check(from != nullptr && from(other, object) == other && other[1] == nullptr, assign);
  from = Export<ConstructFrom>(dll, move_assign);
  Check(from != nullptr && from(other, object) == other && other[1] == nullptr, move_assign);
  if (vftable == nullptr) return;
  const void* const* entries = static_cast<const void* const*>(vftable);
  bool pure = entries[0] != nullptr;
  for (int i = 1; i < slots; ++i) pure = pure && entries[i] == entries[0];
  Check(pure, "every entry of the table is the pure call handler");
}

}  // namespace

int main() {
  RecordingClient a(3);
  RecordingClient b(a);  // copy: the DLL's copy constructor, then ours
  Check(b.tag_ == 3 && b.IsConnected() == 3, "a copied object keeps its members and table");
  RecordingClient c(static_cast<RecordingClient&&>(b));
  Check(c.IsConnected() == 3, "a moved object keeps its members and table");
  RecordingClient d(9);
  d = a;  // the DLL's copy assignment copies nothing of the base
  Check(d.tag_ == 3 && d.IsConnected() == 3, "copy assignment");
  RecordingClient e(4);
  e = static_cast<RecordingClient&&>(d);
  Check(e.IsConnected() == 3, "move assignment");

  Quenlo::IPipeClient* client = &e;
  Check(client->Create(L"x", 1) == 1 && client->AddRef() == 2 && client->Release() == 1,
        "calls through the client's table");
  void* out = nullptr;
  Check(client->QueryInterface(Quenlo::IID_IPipeClient, &out) == Quenlo::kQueryInterfaceOk &&
            out == &e,
        "QueryInterface through the table");
  // SendMessage is SendMessageW here: the DLL's member, which calls slot 7.
  Check(client->SendMessage(40, "ab", 2) == 1 && e.last_sent_ == 42,
        "SendMessage under <windows.h>'s macro reaches slot 7");
  Counter counter;
  Counter counter_copy(counter);
  counter_copy = counter;
  Quenlo::IMSUnknown* unknown = &counter_copy;
  Check(unknown->AddRef() == 6 && unknown->Release() == 5, "calls through the base's table");

  HMODULE dll = LoadLibraryW(L"Quenlo.dll");
  Check(dll != nullptr, "Quenlo.dll is loaded");
  if (dll != nullptr) {
    CheckMembers(dll, "??0IMSUnknown@Quenlo@@QEAA@XZ", "??0IMSUnknown@Quenlo@@QEAA@AEBV01@@Z",
                 "??0IMSUnknown@Quenlo@@QEAA@$$QEAV01@@Z",
                 "??4IMSUnknown@Quenlo@@QEAAAEAV01@AEBV01@@Z",
                 "??4IMSUnknown@Quenlo@@QEAAAEAV01@$$QEAV01@@Z", "??_7IMSUnknown@Quenlo@@6B@", 3);
    CheckMembers(
        dll, "??0IPipeClient@Quenlo@@QEAA@XZ", "??0IPipeClient@Quenlo@@QEAA@AEBV01@@Z",
        "??0IPipeClient@Quenlo@@QEAA@$$QEAV01@@Z", "??4IPipeClient@Quenlo@@QEAAAEAV01@AEBV01@@Z",
        "??4IPipeClient@Quenlo@@QEAAAEAV01@$$QEAV01@@Z", "??_7IPipeClient@Quenlo@@6B@", 10);
    FreeLibrary(dll);
  }
  Say(host_check::Failures() == 0 ? "msvc-derived: all checks passed\n"
                                  : "msvc-derived: some checks failed\n");
  return host_check::Failures() == 0 ? 0 : 1;
}
