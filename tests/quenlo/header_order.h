// Calls written `->SendMessage(...)` in files that include <windows.h>
// before (header_windows_first.cpp) or after (header_windows_after.cpp)
// Quenlo.h; each returns the sum of both calls' results.
#ifndef TESTS_QUENLO_HEADER_ORDER_H
#define TESTS_QUENLO_HEADER_ORDER_H

#include "Quenlo/Quenlo.h"

int32_t SendWithWindowsFirst(Quenlo::IPipeServer* server, Quenlo::IPipeClient* client);
int32_t SendWithWindowsAfter(Quenlo::IPipeServer* server, Quenlo::IPipeClient* client);

#endif  // TESTS_QUENLO_HEADER_ORDER_H
