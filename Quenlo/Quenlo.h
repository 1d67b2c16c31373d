// Quenlo.h - the one public header of Quenlo.dll.
//
// A host application and the panel program include this header and nothing
// else of the library. It declares the types that cross the library boundary
// (events, callbacks, the media packet), the reference-counted interfaces and
// the plain exported functions with their fixed ordinals:
//
//   1 CreatePipeClient   2 CreatePipeServer     3 ChannelLayoutToChannels
//   4 AudioFormatToBits  5 GetTimeNS            6 QueryVersion
//   7 SetLogMessageCallback
//
// A program that loads the library at run time resolves the ordinals with
// GetProcAddress(module, MAKEINTRESOURCEA(n)) and casts to the PFN_ types.
//
// Nothing throws across the boundary: operations return 1/0 truth values,
// only QueryInterface returns a status code. Data handed to a callback is
// valid only during that call.
//
// The header needs only the compiler's <stddef.h> and <stdint.h>: it
// compiles as C++14 or later with GCC, Clang and Microsoft's compiler, with
// or without <windows.h>, included before or after it. <windows.h> makes
// SendMessage a macro (SendMessageW or SendMessageA); the interfaces declare
// their method as SendMessage whatever the macro says and add non-virtual
// SendMessageW/SendMessageA that forward to it, so a call written
// `server->SendMessage(...)` reaches slot 7 in either include order. A class
// that implements SendMessage while the macro is defined declares it between
// `#pragma push_macro("SendMessage")`, `#undef SendMessage` and
// `#pragma pop_macro("SendMessage")`.
//
// Build switches: QUENLO_EXPORTS while building the library itself,
// QUENLO_STATIC when linking the library's code into a program directly
// (white-box tests); neither for ordinary users of Quenlo.dll.
#ifndef QUENLO_QUENLO_H
#define QUENLO_QUENLO_H

#include <stddef.h>
#include <stdint.h>

#if defined(SendMessage)
#pragma push_macro("SendMessage")
#undef SendMessage
#define QUENLO_SENDMESSAGE_MACRO_SAVED
#endif

#if defined(_WIN32) && defined(QUENLO_EXPORTS)
#define QUENLO_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(QUENLO_STATIC)
#define QUENLO_API __declspec(dllimport)
#else
#define QUENLO_API
#endif

// ---------------------------------------------------------------------------
// Events and callbacks
// ---------------------------------------------------------------------------

// What a PipeCallback reports. Passed as a 32-bit unsigned value.
enum IPC_EVENT_TYPE : uint32_t {
  EVENT_CONNECTED = 0,         // the peer's hello arrived; the link is up
  EVENT_BROKEN = 1,            // I/O error or unreadable internal message
  EVENT_DISCONNECTED = 2,      // the channel was closed (also after a failed connect)
  EVENT_MESSAGE = 3,           // a user message: type, data, length
  EVENT_CONNECTION_RESET = 4,  // reserved; treated exactly like EVENT_BROKEN
  EVENT_PACKET = 5,            // server side: data is a 168-byte MediaPacket
};

// Event callback. For events other than EVENT_MESSAGE and EVENT_PACKET the
// type is 0, data null and length 0. `context` is the pointer given to
// SetCallback. `data` is valid only during the call.
typedef void (*PipeCallback)(IPC_EVENT_TYPE event, uint32_t type, const char* data, uint32_t length,
                             void* context);

// Log sink: (severity 0 INFO .. 3 FATAL, source file or null, source line or 0,
// the finished line ending in "\n"). Returns non-zero when it handled the line;
// zero lets the line go on to the log file, if one was chosen. Called on the
// logging thread, possibly from several threads at once.
typedef int32_t (*LogMessageCallback)(int32_t level, const char* file, int32_t line,
                                      const char* text);

// ---------------------------------------------------------------------------
// Media packet: 168 bytes, little-endian, the record of one audio or video
// frame. The library stores bytes 0-159 as one block and then the time stamp;
// fields it does not interpret are carried to the receiver unchanged.
// ---------------------------------------------------------------------------

enum MediaPacketKind : uint32_t {
  MEDIA_PACKET_AUDIO = 1,
  MEDIA_PACKET_VIDEO = 2,
};

struct MediaPacket {
  uint32_t kind;           //   0: MEDIA_PACKET_AUDIO / MEDIA_PACKET_VIDEO; others are ignored
  uint32_t channel;        //   4: channel index
  uint32_t reserved8;      //   8: carried only
  uint32_t flip;           //  12: video: non-zero stores rows bottom-up
  uint32_t width;          //  16: video: pixels; audio: stored in the audio header
  uint32_t height;         //  20: video: pixels; width * height <= 1920 * 1080
  uint32_t reserved24;     //  24: carried only
  uint32_t video_info0;    //  28: video: first header value of the video buffer
  uint32_t video_info1;    //  32: video: second header value
  uint32_t format;         //  36: video: pixel format code
  uint8_t reserved40[16];  //  40: carried only
  uint8_t* data[8];        //  56: plane pointers; audio uses data[0]
  int32_t linesize[8];     // 120: plane strides in bytes
  uint32_t audio_bytes;    // 152: audio: bytes at data[0]
  uint32_t reserved156;    // 156: carried only
  uint64_t timestamp;      // 160: nanoseconds of the GetTimeNS clock
};

static_assert(sizeof(void*) == 8, "MediaPacket's layout is defined for 64-bit programs");
static_assert(sizeof(MediaPacket) == 168, "MediaPacket is 168 bytes");
static_assert(offsetof(MediaPacket, kind) == 0, "MediaPacket layout");
static_assert(offsetof(MediaPacket, channel) == 4, "MediaPacket layout");
static_assert(offsetof(MediaPacket, reserved8) == 8, "MediaPacket layout");
static_assert(offsetof(MediaPacket, flip) == 12, "MediaPacket layout");
static_assert(offsetof(MediaPacket, width) == 16, "MediaPacket layout");
static_assert(offsetof(MediaPacket, height) == 20, "MediaPacket layout");
static_assert(offsetof(MediaPacket, reserved24) == 24, "MediaPacket layout");
static_assert(offsetof(MediaPacket, video_info0) == 28, "MediaPacket layout");
static_assert(offsetof(MediaPacket, video_info1) == 32, "MediaPacket layout");
static_assert(offsetof(MediaPacket, format) == 36, "MediaPacket layout");
static_assert(offsetof(MediaPacket, reserved40) == 40, "MediaPacket layout");
static_assert(offsetof(MediaPacket, data) == 56, "MediaPacket layout");
static_assert(offsetof(MediaPacket, linesize) == 120, "MediaPacket layout");
static_assert(offsetof(MediaPacket, audio_bytes) == 152, "MediaPacket layout");
static_assert(offsetof(MediaPacket, reserved156) == 156, "MediaPacket layout");
static_assert(offsetof(MediaPacket, timestamp) == 160, "MediaPacket layout");

// ---------------------------------------------------------------------------
// Interfaces
// ---------------------------------------------------------------------------

namespace Quenlo {

// 16-byte interface identifier, passed by reference to QueryInterface; the
// layout of the Win32 GUID.
struct InterfaceId {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(InterfaceId) == 16, "interface identifiers are 16 bytes");

// {892AE566-FFE4-47FA-88BA-14AA593544F5}
constexpr InterfaceId IID_IMSUnknown = {
    0x892AE566, 0xFFE4, 0x47FA, {0x88, 0xBA, 0x14, 0xAA, 0x59, 0x35, 0x44, 0xF5}};
// {56447627-DC77-4A12-A1F3-81E95D850438}
constexpr InterfaceId IID_IPipeClient = {
    0x56447627, 0xDC77, 0x4A12, {0xA1, 0xF3, 0x81, 0xE9, 0x5D, 0x85, 0x04, 0x38}};
// {7ABC37DF-6336-49CB-AF58-3A5BC39BB446}
constexpr InterfaceId IID_IPipeServer = {
    0x7ABC37DF, 0x6336, 0x49CB, {0xAF, 0x58, 0x3A, 0x5B, 0xC3, 0x9B, 0xB4, 0x46}};

// True when both identifiers hold the same 16 bytes.
inline bool IsSameInterfaceId(const InterfaceId& a, const InterfaceId& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}

// The largest media channel count that IPipeClient::Create and
// IPipeServer::Open accept; 0 means messages only.
constexpr uint32_t kMaxChannels = 1024;
// The longest pipe name, in UTF-16 code units, that both accept.
constexpr uint32_t kMaxPipeNameLength = 129;

// QueryInterface results.
constexpr int32_t kQueryInterfaceOk = 0;
constexpr int32_t kNoInterface = static_cast<int32_t>(0x80004002u);

// Base of every object the library hands out. The creating export hands out
// the first reference; the last Release deletes the object. Counts change
// atomically. The slot order below is part of the binary interface.
class QUENLO_API IMSUnknown {
 public:
  // Slot 0: adds a reference; returns the new count.
  virtual uint32_t AddRef() = 0;
  // Slot 1: drops a reference; returns the remaining count, 0 when the object
  // was deleted (the pointer is then dangling).
  virtual uint32_t Release() = 0;
  // Slot 2: for a supported identifier stores the object in *out, adds a
  // reference and returns kQueryInterfaceOk; otherwise stores null and
  // returns kNoInterface.
  virtual int32_t QueryInterface(const InterfaceId& iid, void** out) = 0;

  // The special members only install this class's table of virtual
  // operations: assignments copy nothing and return the object.
  IMSUnknown() noexcept;
  IMSUnknown(const IMSUnknown&) noexcept;
  IMSUnknown(IMSUnknown&&) noexcept;
  IMSUnknown& operator=(const IMSUnknown&) noexcept;
  IMSUnknown& operator=(IMSUnknown&&) noexcept;

 protected:
  // Objects end through Release, never through delete on an interface; the
  // table has no destructor slot.
  ~IMSUnknown() = default;
};

// The panel program's end of a pipe (slots 3-9 follow IMSUnknown's).
class QUENLO_API IPipeClient : public IMSUnknown {
 public:
  // Slot 3: 1 while the link is up, else 0.
  virtual uint32_t IsConnected() = 0;
  // Slot 4: stores the event callback and its context; called from the
  // library's reader thread.
  virtual void SetCallback(PipeCallback callback, void* context) = 0;
  // Slot 5: starts connecting to "\\.\pipe\ipc." + name with `channels`
  // media channels; returns at once. A null name counts as empty. Returns 0,
  // making nothing, for a name longer than kMaxPipeNameLength (129) and for
  // more than kMaxChannels (1024) channels.
  virtual int32_t Create(const wchar_t* name, uint32_t channels) = 0;
  // Slot 6: tears the connection down; call before the last Release.
  virtual void Destroy() = 0;
  // Slot 7: queues one message (type, length bytes at data) for the peer.
  virtual int32_t SendMessage(uint32_t type, const char* data, uint32_t length) = 0;
  // Slot 7 under the names <windows.h> gives SendMessage (not in the table).
  int32_t SendMessageW(uint32_t type, const char* data, uint32_t length) {
    return SendMessage(type, data, length);
  }
  int32_t SendMessageA(uint32_t type, const char* data, uint32_t length) {
    return SendMessage(type, data, length);
  }
  // Slot 8: copies the packet into shared memory; for audio waits up to
  // timeout_ms for the reader's acknowledgement.
  virtual int32_t WritePacket(const MediaPacket* packet, uint32_t timeout_ms) = 0;
  // Slot 9: as WritePacket, without waiting.
  virtual int32_t WritePacketAsync(const MediaPacket* packet) = 0;

  IPipeClient() noexcept;
  IPipeClient(const IPipeClient&) noexcept;
  IPipeClient(IPipeClient&&) noexcept;
  IPipeClient& operator=(const IPipeClient&) noexcept;
  IPipeClient& operator=(IPipeClient&&) noexcept;

 protected:
  ~IPipeClient() = default;
};

// The host's end of a pipe (slots 3-8 follow IMSUnknown's).
class IPipeServer : public IMSUnknown {
 public:
  // Slot 3: 1 while a client is connected, else 0.
  virtual uint32_t IsConnected() = 0;
  // Slot 4: stores the host's callback and its context. It is called from
  // several library threads at once (channel events, packets).
  virtual void SetCallback(PipeCallback callback, void* context) = 0;
  // Slot 5: opens the pipe under `name` with `channels` media channels and
  // waits for a client in the background. Always returns 1; a name longer
  // than kMaxPipeNameLength (129) or more than kMaxChannels (1024) channels
  // are refused in the background with an ERROR log line.
  virtual int32_t Open(const wchar_t* name, uint32_t channels) = 0;
  // Slot 6: tears the pipe down in the background; does not wait.
  virtual void Close() = 0;
  // Slot 7: sends one message to the connected client.
  virtual int32_t SendMessage(uint32_t type, const char* data, uint32_t length) = 0;
  // Slot 7 under the names <windows.h> gives SendMessage (not in the table).
  int32_t SendMessageW(uint32_t type, const char* data, uint32_t length) {
    return SendMessage(type, data, length);
  }
  int32_t SendMessageA(uint32_t type, const char* data, uint32_t length) {
    return SendMessage(type, data, length);
  }
  // Slot 8: chooses the library's log file: `path`, or the default path beside
  // the executable when null or empty. 1 when the file is open.
  virtual int32_t OpenLogFile(const wchar_t* path) = 0;

 protected:
  ~IPipeServer() = default;
};

#if !defined(_WIN32)
// Outside Windows the header serves for types only; the special members are
// defined here so that test doubles can derive from the interfaces.
inline IMSUnknown::IMSUnknown() noexcept = default;
inline IMSUnknown::IMSUnknown(const IMSUnknown&) noexcept = default;
inline IMSUnknown::IMSUnknown(IMSUnknown&&) noexcept = default;
inline IMSUnknown& IMSUnknown::operator=(const IMSUnknown&) noexcept { return *this; }
inline IMSUnknown& IMSUnknown::operator=(IMSUnknown&&) noexcept { return *this; }
inline IPipeClient::IPipeClient() noexcept = default;
inline IPipeClient::IPipeClient(const IPipeClient&) noexcept = default;
inline IPipeClient::IPipeClient(IPipeClient&&) noexcept = default;
inline IPipeClient& IPipeClient::operator=(const IPipeClient&) noexcept { return *this; }
inline IPipeClient& IPipeClient::operator=(IPipeClient&&) noexcept { return *this; }
#endif

}  // namespace Quenlo

// ---------------------------------------------------------------------------
// Exported functions (fixed ordinals)
// ---------------------------------------------------------------------------

extern "C" {

// @1: creates a client holding one reference, stored in *client (the caller
// owns it); returns 1. With a null `client` nothing is left behind; returns 0.
QUENLO_API int32_t CreatePipeClient(Quenlo::IPipeClient** client);
// @2: as CreatePipeClient, for a server.
QUENLO_API int32_t CreatePipeServer(Quenlo::IPipeServer** server);
// @3: channel count of an audio channel layout (1-20); 0 for any other value.
QUENLO_API uint32_t ChannelLayoutToChannels(uint32_t layout);
// @4: bits per sample of an audio sample format (0-8); 0 for any other value.
QUENLO_API uint32_t AudioFormatToBits(uint32_t format);
// @5: the library's clock in nanoseconds (performance counter based). Every
// time stamp of the library and of MediaPacket uses it.
QUENLO_API uint64_t GetTimeNS();
// @6: "1.0.0"; the same static text on every call.
QUENLO_API const char* QueryVersion();
// @7: installs the log sink; null silences it (lines then go to the log file
// only, if one was chosen). Set it once, before creating connections.
QUENLO_API void SetLogMessageCallback(LogMessageCallback callback);

}  // extern "C"

// Signatures for GetProcAddress.
typedef int32_t (*PFN_CreatePipeClient)(Quenlo::IPipeClient** client);
typedef int32_t (*PFN_CreatePipeServer)(Quenlo::IPipeServer** server);
typedef uint32_t (*PFN_ChannelLayoutToChannels)(uint32_t layout);
typedef uint32_t (*PFN_AudioFormatToBits)(uint32_t format);
typedef uint64_t (*PFN_GetTimeNS)();
typedef const char* (*PFN_QueryVersion)();
typedef void (*PFN_SetLogMessageCallback)(LogMessageCallback callback);

// Export ordinals, for GetProcAddress(module, MAKEINTRESOURCEA(ordinal)).
enum QuenloExportOrdinal : uint16_t {
  QUENLO_ORDINAL_CreatePipeClient = 1,
  QUENLO_ORDINAL_CreatePipeServer = 2,
  QUENLO_ORDINAL_ChannelLayoutToChannels = 3,
  QUENLO_ORDINAL_AudioFormatToBits = 4,
  QUENLO_ORDINAL_GetTimeNS = 5,
  QUENLO_ORDINAL_QueryVersion = 6,
  QUENLO_ORDINAL_SetLogMessageCallback = 7,
};

#if defined(QUENLO_SENDMESSAGE_MACRO_SAVED)
#undef QUENLO_SENDMESSAGE_MACRO_SAVED
#pragma pop_macro("SendMessage")
#endif

#endif  // QUENLO_QUENLO_H
