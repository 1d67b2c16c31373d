// Plays, through BrisqSharedMemory's seam, the Windows rule Wine does not
// enforce: an ordinary user may not create a file mapping under "Global\"
// (ERROR_ACCESS_DENIED), so no such mapping exists for a reader either
// (ERROR_FILE_NOT_FOUND). Every name tried is recorded. With `deny` false
// the real calls run unchanged and are only recorded.
#ifndef TESTS_RINGS_WIN_GLOBAL_MAPPING_SEAM_H
#define TESTS_RINGS_WIN_GLOBAL_MAPPING_SEAM_H

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "BrisqFramework/IO/BrisqSharedMemory.h"

namespace ring_test {

class GlobalMappingSeam {
 public:
  explicit GlobalMappingSeam(bool deny) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.deny = deny;
    s.created.clear();
    s.opened.clear();
    static const BrisqFramework::BrisqSharedMemory::SystemCalls calls = {&Create, &Open};
    BrisqFramework::BrisqSharedMemory::SetSystemCallsForTesting(&calls);
  }
  ~GlobalMappingSeam() { BrisqFramework::BrisqSharedMemory::SetSystemCallsForTesting(nullptr); }
  GlobalMappingSeam(const GlobalMappingSeam&) = delete;
  GlobalMappingSeam& operator=(const GlobalMappingSeam&) = delete;

  // Names tried, in order (those of other mappings of the process too).
  std::vector<std::wstring> Created() const { return Copy(&State::created); }
  std::vector<std::wstring> Opened() const { return Copy(&State::opened); }

 private:
  struct State {
    std::mutex lock;
    bool deny = false;
    std::vector<std::wstring> created;
    std::vector<std::wstring> opened;
  };
  static State& state() {
    static State s;
    return s;
  }
  static bool Refused(const wchar_t* name, std::vector<std::wstring> State::*log) {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    (s.*log).push_back(name != nullptr ? name : L"");
    return s.deny && name != nullptr && std::wstring(name).rfind(L"Global\\", 0) == 0;
  }
  static HANDLE Create(const wchar_t* name, uint32_t size) {
    if (Refused(name, &State::created)) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    return BrisqFramework::BrisqSharedMemory::RealSystemCalls().create(name, size);
  }
  static HANDLE Open(const wchar_t* name) {
    if (Refused(name, &State::opened)) {
      ::SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    return BrisqFramework::BrisqSharedMemory::RealSystemCalls().open(name);
  }
  std::vector<std::wstring> Copy(std::vector<std::wstring> State::*log) const {
    State& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.*log;
  }
};

}  // namespace ring_test

#endif  // TESTS_RINGS_WIN_GLOBAL_MAPPING_SEAM_H
