// Quenlo.h after <winsock2.h> and <windows.h>: SendMessage is already the
// macro SendMessageW when the header is read.
#include <winsock2.h>
#include <windows.h>

#include "Quenlo/Quenlo.h"
#include "header_order.h"

static_assert(sizeof(Quenlo::InterfaceId) == sizeof(GUID), "InterfaceId has GUID's layout");

int32_t SendWithWindowsFirst(Quenlo::IPipeServer* server, Quenlo::IPipeClient* client) {
  return server->SendMessage(1, "s", 1) + client->SendMessage(2, "c", 1);
}
