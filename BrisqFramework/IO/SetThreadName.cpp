#include "BrisqFramework/IO/SetThreadName.h"

#include <windows.h>

#include <string>

#include "BrisqFramework/Common/LogMessage.h"
#include "BrisqFramework/Common/StringPrintf.h"

namespace BrisqFramework {
namespace IO {
namespace {

using SetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE thread, PCWSTR description);

// Thread-safe one-time lookup (a function-local static).
SetThreadDescriptionFunction LookUpSetThreadDescription() {
  static const SetThreadDescriptionFunction function = [] {
    HMODULE kernel32 = ::GetModuleHandleW(L"Kernel32.dll");
    if (kernel32 == nullptr) return SetThreadDescriptionFunction{nullptr};
    return reinterpret_cast<SetThreadDescriptionFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetThreadDescription")));
  }();
  return function;
}

constexpr DWORD kThreadNameException = 0x406D1388;

// The record a debugger reads from the naming exception (8-byte packing, so
// three pointer-sized arguments on x64).
struct ThreadNameInfo {
  DWORD type;  // 0x1000
  LPCSTR name;
  DWORD thread_id;
  DWORD flags;  // 0
};

LONG CALLBACK SwallowThreadNameException(EXCEPTION_POINTERS* pointers) {
  return pointers->ExceptionRecord->ExceptionCode == kThreadNameException
             ? EXCEPTION_CONTINUE_EXECUTION
             : EXCEPTION_CONTINUE_SEARCH;
}

// A vectored handler stands in for __try/__except, which not every compiler
// of this code has; it only sees the exception if the debugger passed it on.
void AnnounceToDebugger(const char* name) {
  ThreadNameInfo info{0x1000, name, ::GetCurrentThreadId(), 0};
  PVOID handler = ::AddVectoredExceptionHandler(1, &SwallowThreadNameException);
  if (handler == nullptr) return;
  ::RaiseException(kThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&info));
  ::RemoveVectoredExceptionHandler(handler);
}

}  // namespace

void SetThreadName(const char* name) {
  if (SetThreadDescriptionFunction setDescription = LookUpSetThreadDescription()) {
    const std::wstring wide(name, name + std::char_traits<char>::length(name));  // ASCII
    const HRESULT result = setDescription(::GetCurrentThread(), wide.c_str());
    if (FAILED(result)) {
      BRISQ_LOG_AT(ERROR) << StringPrintf("Failed to SetThreadDescription(0x%X)",
                                          static_cast<unsigned>(result));
      return;
    }
  }
  if (::IsDebuggerPresent()) AnnounceToDebugger(name);
  BRISQ_LOG(INFO) << "SetThreadName: " << static_cast<int>(::GetCurrentThreadId()) << ", " << name;
}

}  // namespace IO
}  // namespace BrisqFramework
