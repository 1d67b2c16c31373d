#pragma once

// An in-process IPipeClient for unit tests: records what the panel sends.
// Build with QUENLO_STATIC and link quenlo_interfaces (the interfaces'
// special members).

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Quenlo/Quenlo.h"
#include "Quenlo/RefCountedInterface.h"

// Lives on the test's stack. It starts with two references: the one a test
// hands to the panel (which releases it) and one the test keeps, so the last
// Release never comes.
class RecordingClient final
    : public Quenlo::RefCountedInterface<RecordingClient, Quenlo::IPipeClient> {
 public:
  RecordingClient() : RefCountedInterface(2, Quenlo::IID_IPipeClient) {}
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

  std::mutex mutex;
  std::vector<std::pair<uint32_t, std::string>> sent;
  std::vector<MediaPacket> packets;
  std::vector<uint8_t> first_pixel;  // copied during the call: the buffer is the panel's
  std::vector<uint32_t> timeouts;
};
