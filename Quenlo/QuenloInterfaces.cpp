// The exported special members of the interface classes. They exist so that
// the classes and their tables of virtual operations are part of the DLL's
// interface; they install the table and copy nothing.
#include "Quenlo/Quenlo.h"

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
