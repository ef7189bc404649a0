// What compiled C++ needs of its runtime when built without exceptions and RTTI: operator new
// and delete over the process heap, the function a pure virtual call lands in, and the hooks
// the standard headers call where they would throw. Windows only.
#include <windows.h>

#include <bits/functexcept.h>
#include <cstddef>
#include <new>

#include "runtime/allocation.h"
#include "runtime/process.h"

// Here rather than in process.cpp, beside its only callers: a program that needs none of the C++
// support (cdlaunch) then does not import the debugger output call either.
void zynrt::Fatal(const char* what, const char* detail) {
  OutputDebugStringA("fatal: ");
  OutputDebugStringA(what);
  if (detail != nullptr) {
    OutputDebugStringA(": ");
    OutputDebugStringA(detail);
  }
  OutputDebugStringA("\n");
  ExitProcess(3);
}

namespace {
// HeapAlloc answers blocks aligned to 8 bytes, as the C library's malloc did before; no type of
// the programs asks for more.
struct ProcessHeap {
  static void* Allocate(std::size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
  static void Free(void* block) { HeapFree(GetProcessHeap(), 0, block); }
  [[noreturn]] static void OutOfMemory() { zynrt::Fatal("out of memory"); }
};
}  // namespace

void* operator new(std::size_t size) {
  return zynrt::Allocate<ProcessHeap>(size);
}

void* operator new[](std::size_t size) {
  return zynrt::Allocate<ProcessHeap>(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return zynrt::AllocateOrNull<ProcessHeap>(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return zynrt::AllocateOrNull<ProcessHeap>(size);
}

void operator delete(void* block) noexcept {
  zynrt::Release<ProcessHeap>(block);
}

void operator delete[](void* block) noexcept {
  zynrt::Release<ProcessHeap>(block);
}

void operator delete(void* block, std::size_t) noexcept {
  zynrt::Release<ProcessHeap>(block);
}

void operator delete[](void* block, std::size_t) noexcept {
  zynrt::Release<ProcessHeap>(block);
}

extern "C" void __cxa_pure_virtual() {
  zynrt::Fatal("pure virtual function called");
}

// The hooks of the standard headers. Each would throw; without exceptions the program ends.
namespace std {

const nothrow_t nothrow{};

void __throw_bad_alloc() {
  zynrt::Fatal("bad_alloc");
}

void __throw_bad_array_new_length() {
  zynrt::Fatal("bad_array_new_length");
}

void __throw_bad_function_call() {
  zynrt::Fatal("bad_function_call");
}

void __throw_logic_error(const char* what) {
  zynrt::Fatal("logic_error", what);
}

void __throw_invalid_argument(const char* what) {
  zynrt::Fatal("invalid_argument", what);
}

void __throw_length_error(const char* what) {
  zynrt::Fatal("length_error", what);
}

void __throw_out_of_range(const char* what) {
  zynrt::Fatal("out_of_range", what);
}

// The format's arguments are left out: naming the fault is enough for the debugger.
void __throw_out_of_range_fmt(const char* format, ...) {
  zynrt::Fatal("out_of_range", format);
}

}  // namespace std
