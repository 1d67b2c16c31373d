// Quenlo.h on its own in Microsoft's mode: it must need nothing but the
// compiler's <stddef.h> and <stdint.h> and compile without a warning.
#include "Quenlo/Quenlo.h"

int32_t QuenloHeaderSend(Quenlo::IPipeServer* server);
int32_t QuenloHeaderSend(Quenlo::IPipeServer* server) {
  return server->SendMessage(1, "a", 1) + server->SendMessageW(2, "b", 1);
}
