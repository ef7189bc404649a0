// Checks of the Windows side of the table reader's seams that only real memory can show: which
// extents the address space hands out, and the zero-filled global blocks. Run under Wine by
// test_zynid_channel.py; prints one line per failed check and "checks: N failed" at the end.
#include <windows.h>

#include <cstdarg>
#include <cstdint>

#include "hw/win32/win32_dmi_platform.h"

namespace {
int g_failed = 0;

// One line on standard output, formatted like wsprintfA. The program has no C library: the
// line ends in CR LF, as the C library's text-mode output wrote it.
void PrintLine(const char* format, ...) {
  char text[1024 + 2];  // wvsprintfA writes at most 1024 characters, terminator included
  va_list arguments;
  va_start(arguments, format);
  int length = wvsprintfA(text, format, arguments);
  va_end(arguments);
  length = length < 0 ? 0 : length;
  text[length++] = '\r';
  text[length++] = '\n';
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
}

void Check(bool ok, const char* what, const char* family = "") {
  if (!ok) {
    PrintLine("FAILED: %s%s", family, what);
    ++g_failed;
  }
}

std::uint32_t Address(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// The NT family's check and the 9x family's must agree on plain process memory; only the 9x
// check can also read what a VxD maps, which no test here can make.
// The guard page is left out for the 9x check: that family has no guard pages, and touching one
// raises an exception that is not an access violation, which Wine's IsBadReadPtr lets pass.
void AddressSpaceExtents(DmiAddressSpace& space, const char* family, bool with_guard_page) {
  constexpr DWORD kPage = 4096;
  // Five pages: read-write, read-only, reserved only, no access, guard.
  auto* base =
      static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 5 * kPage, MEM_RESERVE, PAGE_NOACCESS));
  VirtualAlloc(base, 2 * kPage, MEM_COMMIT, PAGE_READWRITE);
  DWORD old;
  VirtualProtect(base + kPage, kPage, PAGE_READONLY, &old);
  VirtualAlloc(base + 3 * kPage, kPage, MEM_COMMIT, PAGE_NOACCESS);
  VirtualAlloc(base + 4 * kPage, kPage, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD);

  const std::uint32_t a = Address(base);
  struct Case {
    std::uint32_t address, length;
    bool readable;
    const char* what;
  } cases[] = {
      {a, 16, true, "extent inside one committed page"},
      {a + kPage - 8, 16, true, "extent across a read-write and a read-only page"},
      {a, 2 * kPage, true, "two whole committed pages"},
      {a + 2 * kPage - 8, 16, false, "extent running into a reserved page"},
      {a + 2 * kPage, 1, false, "reserved page"},
      {a + 3 * kPage, 1, false, "committed page without access"},
      {a + 4 * kPage, 1, false, "guard page"},
      {0, 1, false, "address zero"},
      {0xFFFFF000u, 0x2000, false, "extent wrapping past the top of the address space"},
      {0xFFFFFFFFu, 0xFFFFFFFFu, false, "largest address and length"},
  };
  for (const Case& c : cases) {
    if (!with_guard_page && c.address == a + 4 * kPage)
      continue;
    const std::uint8_t* got = space.Read(c.address, c.length);
    Check(c.readable ? got == reinterpret_cast<const std::uint8_t*>(c.address) : got == nullptr,
          c.what, family);
  }
  VirtualFree(base, 0, MEM_RELEASE);
  Check(space.Read(a, 1) == nullptr, "released memory", family);
}

void GlobalBlocks() {
  GlobalMemory memory;
  std::uint8_t* block = memory.AllocateZeroed(8196);
  Check(block != nullptr, "8196-byte block allocated");
  if (block == nullptr)
    return;
  bool zero = true;
  for (int i = 0; i < 8196; ++i)
    zero = zero && block[i] == 0;
  Check(zero, "block is zero-filled");
  block[8195] = 0xAA;  // the whole size is writable
  HGLOBAL handle = GlobalHandle(block);
  Check(handle != nullptr && GlobalSize(handle) >= 8196, "block is a global block of its size");
  memory.Free(block);
  memory.Free(nullptr);  // harmless
}
}  // namespace

int main() {
  ProcessAddressSpace nt;
  AddressSpaceExtents(nt, "NT: ", true);
  Win9xAddressSpace nine;
  AddressSpaceExtents(nine, "9x: ", false);
  GlobalBlocks();
  PrintLine("checks: %d failed", g_failed);
  return g_failed == 0 ? 0 : 1;
}
