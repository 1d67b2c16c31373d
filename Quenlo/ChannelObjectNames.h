// ChannelObjectNames.h - the names of the kernel objects both ends of a pipe
// agree on, per media channel: "<namespace>\<kind>_<index>_<pipe name>".
//
// Client and server build every name here, so the two can never drift
// apart. Semaphores and the acknowledge event live under "Global\" (no
// privilege is needed to create them there). Mappings are named under
// "Global\" too; a writer that is refused the global namespace (creating a
// global mapping needs a privilege that ordinary users lack) makes the
// "Local\" form of the same name, and the reader looks there second.
#ifndef QUENLO_CHANNELOBJECTNAMES_H
#define QUENLO_CHANNELOBJECTNAMES_H

#include <cstdint>
#include <string>

namespace Quenlo {

// Kinds of per-channel objects, as they appear in the names.
extern const wchar_t kVideoSemaphoreKind[];  // L"VideoPipeSemaphore"
extern const wchar_t kAudioSemaphoreKind[];  // L"AudioPipeSemaphore"
extern const wchar_t kAudioEventKind[];      // L"AudioPipeEvent"
extern const wchar_t kVideoMappingKind[];    // L"PIPE_VIDEO"
extern const wchar_t kAudioMappingKind[];    // L"PIPE_AUDIO"

extern const wchar_t kGlobalNamespace[];  // L"Global\\"
extern const wchar_t kLocalNamespace[];   // L"Local\\"

// "Global\<kind>_<index>_<pipe name>" (a null pipe name counts as empty).
std::wstring ChannelObjectName(const wchar_t* kind, uint32_t index, const wchar_t* pipe_name);

// "Global\PipeMutex_<pipe name>": the client's mutex, held while created.
std::wstring PipeMutexName(const std::wstring& pipe_name);

// The "Local\" form of a "Global\" name (the rest unchanged); empty when
// `name` does not start with "Global\".
std::wstring LocalFormOf(const std::wstring& name);

}  // namespace Quenlo

#endif  // QUENLO_CHANNELOBJECTNAMES_H
