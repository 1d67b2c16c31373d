#pragma once

#include <string>

#include "Quenlo/Quenlo.h"
#include "panel/scoped_win.h"

namespace tessaly {

// Quenlo.dll, bound at run time: the panel uses exports 1 (CreatePipeClient),
// 5 (GetTimeNS) and 7 (SetLogMessageCallback), looked up by ordinal. Loading
// at run time lets a missing library or export end in the panel's own error
// box instead of a loader failure before the program runs.
//
// Owned by the entry function and declared before the AppContext, so the
// module stays loaded until the client has been destroyed and released.
class QuenloLibrary {
 public:
  QuenloLibrary() = default;
  QuenloLibrary(QuenloLibrary&&) noexcept = default;
  QuenloLibrary& operator=(QuenloLibrary&&) noexcept = default;

  // Loads the library from `path` (a full path) and resolves the three
  // exports. True only when all of that succeeded; otherwise nothing stays
  // loaded and every function pointer is null.
  bool load(const std::wstring& path);

  bool loaded() const noexcept { return static_cast<bool>(module_); }

  PFN_CreatePipeClient create_pipe_client = nullptr;             // ordinal 1
  PFN_GetTimeNS get_time_ns = nullptr;                           // ordinal 5
  PFN_SetLogMessageCallback set_log_message_callback = nullptr;  // ordinal 7

 private:
  UniqueModule module_;
};

// The folder of the running program, ending in a backslash (everything up to
// and including the last backslash of its full path). Empty on failure.
std::wstring program_folder();

// The file name the panel loads from its own folder.
extern const wchar_t* const kQuenloFileName;

}  // namespace tessaly
