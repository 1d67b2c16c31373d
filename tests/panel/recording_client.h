#pragma once

// An in-process IPipeClient for unit tests: records what the panel sends.
// Build with QUENLO_STATIC and define the interfaces' special members once
// (QUENLO_DEFINE_INTERFACE_MEMBERS in exactly one source file).

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Quenlo/Quenlo.h"

#ifdef QUENLO_DEFINE_INTERFACE_MEMBERS
namespace Quenlo {
IMSUnknown::IMSUnknown() noexcept = default;
IMSUnknown::IMSUnknown(const IMSUnknown&) noexcept = default;
IMSUnknown::IMSUnknown(IMSUnknown&&) noexcept = default;
IMSUnknown& IMSUnknown::operator=(const IMSUnknown&) noexcept { return *this; }
IMSUnknown& IMSUnknown::operator=(IMSUnknown&&) noexcept { return *this; }
IPipeClient::IPipeClient() noexcept = default;
IPipeClient::IPipeClient(const IPipeClient&) noexcept = default;
IPipeClient::IPipeClient(IPipeClient&&) noexcept = default;
IPipeClient& IPipeClient::operator=(const IPipeClient&) noexcept { return *this; }
IPipeClient& IPipeClient::operator=(IPipeClient&&) noexcept { return *this; }
}  // namespace Quenlo
#endif

// Lives on the test's stack: Release never deletes.
class RecordingClient final : public Quenlo::IPipeClient {
 public:
  uint32_t AddRef() override { return ++refs; }
  uint32_t Release() override { return --refs; }
  int32_t QueryInterface(const Quenlo::InterfaceId&, void** out) override {
    *out = nullptr;
    return Quenlo::kNoInterface;
  }
  uint32_t IsConnected() override { return 0; }
  void SetCallback(PipeCallback, void*) override {}
  int32_t Create(const wchar_t*, uint32_t) override { return 1; }
  void Destroy() override {}
// The interface method, not <windows.h>'s macro of that name.
#pragma push_macro("SendMessage")
#undef SendMessage
  int32_t SendMessage(uint32_t type, const char* data, uint32_t length) override {
    std::lock_guard<std::mutex> lock(mutex);
    sent.emplace_back(type, std::string(data, length));
    return 1;
  }
#pragma pop_macro("SendMessage")
  int32_t WritePacket(const MediaPacket* packet, uint32_t timeout_ms) override {
    std::lock_guard<std::mutex> lock(mutex);
    packets.push_back(*packet);
    first_pixel.push_back(packet->data[0] != nullptr ? packet->data[0][0] : 0);
    timeouts.push_back(timeout_ms);
    return 1;
  }
  int32_t WritePacketAsync(const MediaPacket*) override { return 1; }

  uint32_t refs = 1;
  std::mutex mutex;
  std::vector<std::pair<uint32_t, std::string>> sent;
  std::vector<MediaPacket> packets;
  std::vector<uint8_t> first_pixel;  // copied during the call: the buffer is the panel's
  std::vector<uint32_t> timeouts;
};
