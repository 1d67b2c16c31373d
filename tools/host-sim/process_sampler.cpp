#include "tools/host-sim/process_sampler.h"

#include <psapi.h>

#include <vector>

namespace host_sim {
namespace {

// The system's table of open handles (NtQuerySystemInformation, class
// SystemExtendedHandleInformation), in the layout the system fills in.
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct HandleEntry {
  void* object;
  ULONG_PTR process_id;
  ULONG_PTR handle;
  ULONG access;
  USHORT back_trace_index;
  USHORT type_index;
  ULONG attributes;
  ULONG reserved;
};

struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

// Counts the entries of `process_id` in the system's handle table; false
// when the table cannot be read.
bool count_in_handle_table(DWORD process_id, uint64_t& count) {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  const auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "NtQuerySystemInformation")));
  if (query == nullptr) return false;
  std::vector<unsigned char> buffer(1 << 20);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(kSystemExtendedHandleInformation, buffer.data(),
                              static_cast<ULONG>(buffer.size()), &needed);
    if (status == kStatusInfoLengthMismatch) {
      buffer.resize(needed > buffer.size() ? needed + 65536 : buffer.size() * 2);
      continue;
    }
    if (status < 0) return false;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
      if (table->entries[i].process_id == process_id) ++count;
    }
    return true;
  }
  return false;
}

}  // namespace

ProcessSample sample_process(HANDLE process, DWORD process_id) {
  ProcessSample sample;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory)) {
    sample.working_set_bytes = memory.WorkingSetSize;
    sample.private_bytes = memory.PrivateUsage;
    sample.memory_known = true;
  }
  DWORD handles = 0;
  if (::GetProcessHandleCount(process, &handles) && handles != 0) {
    sample.handles = handles;
    sample.handle_source = "GetProcessHandleCount";
  } else if (count_in_handle_table(process_id, sample.handles) && sample.handles != 0) {
    sample.handle_source = "system handle table";
  } else {
    sample.handles = 0;
  }
  return sample;
}

}  // namespace host_sim
