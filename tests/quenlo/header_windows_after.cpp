// Quenlo.h before <winsock2.h> and <windows.h>: the macro SendMessage comes
// after the interfaces were declared.
#include "Quenlo/Quenlo.h"

#include <winsock2.h>
#include <windows.h>

#include "header_order.h"

int32_t SendWithWindowsAfter(Quenlo::IPipeServer* server, Quenlo::IPipeClient* client) {
  return server->SendMessage(1, "s", 1) + client->SendMessage(2, "c", 1);
}
