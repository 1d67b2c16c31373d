// windows.h - the few Win32 declarations that programs built here in
// Microsoft's ABI use, for builds without the Windows SDK. Names, types and
// the SendMessage macro follow the Windows headers, so the same source
// compiles against the real <windows.h> with MinGW or Microsoft's compiler.
#ifndef TOOLS_MSVC_SHIM_WINDOWS_H
#define TOOLS_MSVC_SHIM_WINDOWS_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI __stdcall
#define FALSE 0
#define TRUE 1
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STARTF_USESTDHANDLES 0x100u
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(static_cast<WORD>(i))))

typedef int BOOL;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef unsigned char BYTE;
typedef void* HANDLE;
typedef struct HINSTANCE__* HMODULE;
typedef const char* LPCSTR;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;
typedef int64_t(WINAPI* FARPROC)();
typedef intptr_t LRESULT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef struct HWND__* HWND;

struct STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

extern "C" {
__declspec(dllimport) BOOL WINAPI CloseHandle(HANDLE object);
__declspec(dllimport) HANDLE WINAPI
    CreateEventW(void* attributes, BOOL manual_reset, BOOL initial_state, LPCWSTR name);
__declspec(dllimport) BOOL WINAPI
    CreateProcessW(LPCWSTR application, LPWSTR command_line, void* process_attributes,
                   void* thread_attributes, BOOL inherit_handles, DWORD flags, void* environment,
                   LPCWSTR directory, STARTUPINFOW* startup, PROCESS_INFORMATION* information);
__declspec(dllimport) __declspec(noreturn) void WINAPI ExitProcess(unsigned int code);
__declspec(dllimport) BOOL WINAPI FreeLibrary(HMODULE module);
__declspec(dllimport) BOOL WINAPI GetExitCodeProcess(HANDLE process, DWORD* code);
__declspec(dllimport) DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size);
__declspec(dllimport) FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
__declspec(dllimport) HANDLE WINAPI GetStdHandle(DWORD which);
__declspec(dllimport) DWORD WINAPI GetTickCount();
__declspec(dllimport) HMODULE WINAPI LoadLibraryW(LPCWSTR path);
__declspec(dllimport) BOOL WINAPI ResetEvent(HANDLE event);
__declspec(dllimport) BOOL WINAPI SetEvent(HANDLE event);
__declspec(dllimport) void WINAPI Sleep(DWORD milliseconds);
__declspec(dllimport) BOOL WINAPI TerminateProcess(HANDLE process, unsigned int code);
__declspec(dllimport) DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);
__declspec(dllimport) BOOL WINAPI
    WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void* overlapped);
// Declared (user32), as the Windows headers do, for the SendMessage macro;
// nothing here calls it.
__declspec(dllimport) LRESULT WINAPI
    SendMessageW(HWND window, unsigned int message, WPARAM wparam, LPARAM lparam);
}

#define SendMessage SendMessageW

#endif  // TOOLS_MSVC_SHIM_WINDOWS_H
