// The Windows side of the table reader's seams: the device channel, this process's address
// space, the global allocator and the debugger output.
#pragma once

#include <windows.h>

#include <cstdint>

#include "dmi/dmi_reader.h"

class ChannelDevice : public DmiDevice {
 public:
  explicit ChannelDevice(HANDLE channel) : channel_(channel) {}
  bool IsInvalidHandle() const override { return channel_ == INVALID_HANDLE_VALUE; }
  bool Control(std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
               std::uint32_t out_size) override;

 private:
  HANDLE channel_;
};

// The driver hands out addresses in this process. An extent is handed out only when every page
// of it is committed and readable now, so that a wrong address from a driver is refused instead
// of faulting. The NT family's check: there VirtualQuery describes every page of the process,
// the driver's mapping included.
class ProcessAddressSpace : public DmiAddressSpace {
 public:
  const std::uint8_t* Read(std::uint32_t address, std::uint32_t length) override;
};

// The 9x family's check. There VirtualQuery does not describe every linear address a VxD can
// hand out (the arena below 1 MB, pages a VxD committed in the shared arena), so the check
// above could refuse a table that is perfectly readable. Instead every page of the extent is
// read under the system's own fault guard (IsBadReadPtr), as software of that family did.
class Win9xAddressSpace : public DmiAddressSpace {
 public:
  const std::uint8_t* Read(std::uint32_t address, std::uint32_t length) override;
};

// Zero-filled blocks from GlobalAlloc, made addressable with GlobalLock and released with
// GlobalUnlock, then GlobalFree.
class GlobalMemory : public DmiAllocator {
 public:
  std::uint8_t* AllocateZeroed(std::uint32_t size) override;
  void Free(std::uint8_t* block) override;
};

class DebuggerOutput : public DmiDebugOutput {
 public:
  void Write(const char* text) override { OutputDebugStringA(text); }
};
