#include "tests/support/unique_name.h"

#include <windows.h>

#include <atomic>

namespace test_support {

std::wstring UniqueName(const std::wstring& tag) {
  static std::atomic<int> serial{0};
  return L"bt." + tag + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
         std::to_wstring(++serial);
}

}  // namespace test_support
