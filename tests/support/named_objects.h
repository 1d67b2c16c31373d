// Whether a named kernel object exists, looked at from outside the code
// under test. A named object disappears with its last handle, so this also
// tells whether a wrapper closed its handle (handle values themselves are
// reused at once and prove nothing).
#ifndef TESTS_SUPPORT_NAMED_OBJECTS_H
#define TESTS_SUPPORT_NAMED_OBJECTS_H

#include <string>

namespace test_support {

bool EventExists(const std::wstring& name);
bool MutexExists(const std::wstring& name);
bool SemaphoreExists(const std::wstring& name);
bool MappingExists(const std::wstring& name);
// A server end of IpcPipePath(name) exists (free or busy).
bool PipeExists(const std::wstring& name);

}  // namespace test_support

#endif  // TESTS_SUPPORT_NAMED_OBJECTS_H
