// Owners (runtime/owner.h) of the Windows handles a program holds itself: kernel objects such
// as files, devices, processes and tokens, and registry keys. For every Windows image we build.
#pragma once

#include <windows.h>

#include "runtime/owner.h"

namespace win32 {

// A failed open answers null or INVALID_HANDLE_VALUE, depending on the call; neither is closed.
struct KernelHandleKind {
  using Handle = HANDLE;
  static HANDLE Empty() { return nullptr; }
  static bool Holds(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Release(HANDLE handle) { CloseHandle(handle); }
};
using KernelHandle = zynrt::Owner<KernelHandleKind>;

struct RegistryKeyKind {
  using Handle = HKEY;
  static HKEY Empty() { return nullptr; }
  static bool Holds(HKEY key) { return key != nullptr; }
  static void Release(HKEY key) { RegCloseKey(key); }
};
using RegistryKey = zynrt::Owner<RegistryKeyKind>;

}  // namespace win32
