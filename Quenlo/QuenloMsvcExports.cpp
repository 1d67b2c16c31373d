// The exported members of IMSUnknown and IPipeClient under the names and with
// the semantics of Microsoft's C++ ABI, for hosts built with Microsoft's
// compiler. Quenlo.def exports them under the decorated names such a
// compiler imports (listed there); the GNU-named members stay as they are.
//
// Both ABIs pass `this` in RCX and the first argument in RDX on x86-64
// Windows and return in RAX, so plain functions serve as the members:
// - constructors (default, copy, move) install the class's table and, unlike
//   GNU constructors, return `this`;
// - copy and move assignments copy nothing and return `this`;
// - a table symbol names slot 0 of a table whose every entry is the pure
//   call handler (no type record before it: such hosts build without RTTI
//   across the boundary), and the slot order is the same in both ABIs;
// - SendMessageW/SendMessageA, inline in the header, call slot 7. A program
//   built with Microsoft's compiler may import them instead of inlining.
#include <stdint.h>

#include <cstdlib>

#include "BrisqFramework/Common/LogMessage.h"
#include "Quenlo/Quenlo.h"

namespace {
using Slot = void (*)();

// A call through a table entry of an abstract class: a host called a
// method of an object that is still (or again) only the interface.
// Defined here, not taken from the C++ runtime, so that the tables are
// constants of the DLL's image rather than filled in at load time.
void PureCall() {
  BRISQ_LOG(FATAL) << "pure virtual function call";
  std::abort();
}
}  // namespace

extern "C" {

extern const Slot QuenloMsvcIMSUnknownTable[3];
extern const Slot QuenloMsvcIPipeClientTable[10];
const Slot QuenloMsvcIMSUnknownTable[3] = {PureCall, PureCall, PureCall};
const Slot QuenloMsvcIPipeClientTable[10] = {PureCall, PureCall, PureCall, PureCall, PureCall,
                                             PureCall, PureCall, PureCall, PureCall, PureCall};

// IMSUnknown::IMSUnknown() and the copy and move constructors (the source
// argument, if any, is ignored).
void* QuenloMsvcIMSUnknownConstruct(void* self) {
  *static_cast<const Slot**>(self) = QuenloMsvcIMSUnknownTable;
  return self;
}
void* QuenloMsvcIMSUnknownConstructFrom(void* self, const void* /*source*/) {
  return QuenloMsvcIMSUnknownConstruct(self);
}
void* QuenloMsvcIPipeClientConstruct(void* self) {
  *static_cast<const Slot**>(self) = QuenloMsvcIPipeClientTable;
  return self;
}
void* QuenloMsvcIPipeClientConstructFrom(void* self, const void* /*source*/) {
  return QuenloMsvcIPipeClientConstruct(self);
}
// Every copy and move assignment of both classes.
void* QuenloMsvcAssign(void* self, const void* /*source*/) { return self; }
int32_t QuenloMsvcSendMessage(Quenlo::IPipeClient* self, uint32_t type, const char* data,
                              uint32_t length) {
  return self->SendMessage(type, data, length);
}

}  // extern "C"
