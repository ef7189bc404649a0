#include "runtime/process.h"

#include <windows.h>

#include "runtime/start_and_exit.h"

// Laid out by the linker's script: a marker word, the entries of every .ctors (.dtors) section,
// a null word.
extern "C" zynrt::Function __CTOR_LIST__[];
extern "C" zynrt::Function __DTOR_LIST__[];

namespace zynrt {
namespace {
bool g_constructed = false;
// Zero-initialized before any code runs, with no constructor to wait for: ready while the
// global objects' constructors register their destructors in it.
ExitHandlers g_exit_handlers;
}  // namespace

void ConstructGlobals() {
  if (g_constructed)
    return;
  g_constructed = true;
  RunConstructorList(__CTOR_LIST__);
}

void ExitProgram(int status) {
  g_exit_handlers.RunAll();
  RunDestructorList(__DTOR_LIST__);
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace zynrt

extern "C" {

// The compiler registers each global object's destructor here while constructing it.
int atexit(void (*handler)()) {
  return zynrt::g_exit_handlers.Add(handler) ? 0 : -1;
}

// The compiler calls this at the top of main, on targets whose object format has no other way
// of running constructors before it.
void __main() {
  zynrt::ConstructGlobals();
}

// For the console entry point, which is C.
void zynrt_ConstructGlobals() {
  zynrt::ConstructGlobals();
}

void zynrt_ExitProgram(int status) {
  zynrt::ExitProgram(status);
}

}  // extern "C"
