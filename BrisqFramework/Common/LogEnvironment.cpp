#include "BrisqFramework/Common/LogEnvironment.h"

#include <atomic>

namespace BrisqFramework {
namespace {

// Written by tests and benchmarks before they log, read by every record.
std::atomic<const LogEnvironment*> g_installed{nullptr};

}  // namespace

const LogEnvironment& CurrentLogEnvironment() {
  const LogEnvironment* installed = g_installed.load(std::memory_order_acquire);
  return installed != nullptr ? *installed : PlatformLogEnvironment();
}

void SetLogEnvironment(const LogEnvironment* environment) {
  g_installed.store(environment, std::memory_order_release);
}

}  // namespace BrisqFramework
