// SetThreadName.h - names the calling thread for debuggers and tools.
#ifndef BRISQFRAMEWORK_IO_SETTHREADNAME_H
#define BRISQFRAMEWORK_IO_SETTHREADNAME_H

namespace BrisqFramework {
namespace IO {

// Names the calling thread `name` (ASCII) through SetThreadDescription, which
// is looked up in Kernel32.dll once per process at run time (older systems
// lack it; then this step is skipped). A failing call logs ERROR
// "Failed to SetThreadDescription(0x%X)" and naming stops there. With a
// debugger attached the name is also announced by the debugger's
// thread-naming exception, swallowed here. Ends with INFO
// "SetThreadName: <thread id>, <name>".
void SetThreadName(const char* name);

}  // namespace IO
}  // namespace BrisqFramework

#endif  // BRISQFRAMEWORK_IO_SETTHREADNAME_H
