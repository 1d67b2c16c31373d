#include "Quenlo/ChannelObjectNames.h"

#include <cwchar>

namespace Quenlo {

const wchar_t kVideoSemaphoreKind[] = L"VideoPipeSemaphore";
const wchar_t kAudioSemaphoreKind[] = L"AudioPipeSemaphore";
const wchar_t kAudioEventKind[] = L"AudioPipeEvent";
const wchar_t kVideoMappingKind[] = L"PIPE_VIDEO";
const wchar_t kAudioMappingKind[] = L"PIPE_AUDIO";

const wchar_t kGlobalNamespace[] = L"Global\\";
const wchar_t kLocalNamespace[] = L"Local\\";

std::wstring ChannelObjectName(const wchar_t* kind, uint32_t index, const wchar_t* pipe_name) {
  return std::wstring(kGlobalNamespace) + kind + L"_" + std::to_wstring(index) + L"_" +
         (pipe_name != nullptr ? pipe_name : L"");
}

std::wstring PipeMutexName(const std::wstring& pipe_name) {
  return std::wstring(kGlobalNamespace) + L"PipeMutex_" + pipe_name;
}

std::wstring LocalFormOf(const std::wstring& name) {
  const size_t prefix = std::wcslen(kGlobalNamespace);
  if (name.compare(0, prefix, kGlobalNamespace) != 0) return std::wstring();
  return kLocalNamespace + name.substr(prefix);
}

}  // namespace Quenlo
