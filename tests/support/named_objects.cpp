#include "tests/support/named_objects.h"

#include <windows.h>

#include "BrisqFramework/Common/BrisqHandle.h"

namespace test_support {
namespace {

bool Opens(HANDLE(WINAPI* open)(DWORD, BOOL, LPCWSTR), DWORD access, const std::wstring& name) {
  BrisqFramework::BrisqHandle h(open(access, FALSE, name.c_str()));
  return h.IsValid();
}

}  // namespace

bool EventExists(const std::wstring& name) { return Opens(::OpenEventW, SYNCHRONIZE, name); }
bool MutexExists(const std::wstring& name) { return Opens(::OpenMutexW, SYNCHRONIZE, name); }
bool SemaphoreExists(const std::wstring& name) {
  return Opens(::OpenSemaphoreW, SYNCHRONIZE, name);
}
bool MappingExists(const std::wstring& name) {
  return Opens(::OpenFileMappingW, FILE_MAP_READ, name);
}

bool PipeExists(const std::wstring& name) {
  const std::wstring path = L"\\\\.\\pipe\\ipc." + name;
  if (::WaitNamedPipeW(path.c_str(), 1)) return true;
  const DWORD error = ::GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_BAD_PATHNAME;
}

}  // namespace test_support
