// LogFile.h - the library's per-process log file.
//
// Until a log file is chosen, lines the output hook does not handle are
// dropped. Once chosen, the path stays set for the life of the process and
// every such line is appended to it with one write; a file that cannot be
// opened loses the line and is tried again on the next one.
//
// The path and the file are guarded by one internal lock, held while the file
// is opened, written or closed, so a new choice never races a writer.
#ifndef BRISQFRAMEWORK_COMMON_LOGFILE_H
#define BRISQFRAMEWORK_COMMON_LOGFILE_H

#include <string>

namespace BrisqFramework {

// Chooses the log file: closes the open one, takes `path`, or the default
// path when `path` is null or empty, remembers it and opens it for appending.
// True when the file is open. Any thread.
bool SetLogFile(const wchar_t* path);

// "<directory of the executable>\<YYYYMMDD hh-mm-ss>-<process id>.log" for
// the current local time, e.g. "C:\Tools\20240131 07-05-09-4242.log".
std::wstring DefaultLogFilePath();

// The chosen path; empty while none was chosen.
std::wstring LogFilePath();

}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_COMMON_LOGFILE_H
