// An Owner kind (runtime/owner.h) for handles that a port hands out and takes back. The portable
// logic reaches the platform through ports: interfaces that the Windows programs implement with
// the real calls and the unit tests with fakes. What a port opened goes back through the same
// port, so the kind carries the port and names the member that gives the handle back:
//
//   using TokenKind = zynrt::PortKind<TokenApi, &TokenApi::CloseToken>;
//   zynrt::Owner<TokenKind> token(TokenKind{&api});
//
// The ports' handles are pointers. Null is no handle, and neither is the all-ones value that a
// failed file open answers.
//
// Freestanding, like the owner itself.
#pragma once

#include "runtime/owner.h"

namespace zynrt {

template <class Port, void (Port::*GiveBack)(void*)>
struct PortKind {
  using Handle = void*;
  static Handle Empty() { return nullptr; }
  static bool Holds(Handle handle) {
    return handle != nullptr && handle != reinterpret_cast<Handle>(~decltype(sizeof 0){0});
  }
  void Release(Handle handle) const { (port->*GiveBack)(handle); }
  Port* port = nullptr;
};

}  // namespace zynrt
