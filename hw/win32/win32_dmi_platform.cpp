#include "hw/win32/win32_dmi_platform.h"

#include "hw/win32/device_io.h"

static_assert(sizeof(void*) == 4, "driver addresses are 32-bit addresses of this process");

bool ChannelDevice::Control(std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
                            std::uint32_t out_size) {
  // DeviceIoControl takes a non-const input buffer but does not write it.
  return SendDeviceRequest(channel_, code, const_cast<void*>(in), in_size, out, out_size);
}

namespace {
bool IsReadable(const MEMORY_BASIC_INFORMATION& region) {
  constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  return region.State == MEM_COMMIT && (region.Protect & kReadable) != 0 &&
         (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0;
}

// 64-bit arithmetic: an extent that runs past the top of the 4 GB space is refused, not
// wrapped round to its bottom.
bool FitsInAddressSpace(std::uint32_t address, std::uint32_t length) {
  return std::uint64_t{address} + length <= 0x100000000ull;
}
}  // namespace

const std::uint8_t* ProcessAddressSpace::Read(std::uint32_t address, std::uint32_t length) {
  const std::uint8_t* start = reinterpret_cast<const std::uint8_t*>(address);
  if (length == 0)
    return start;
  if (!FitsInAddressSpace(address, length))
    return nullptr;
  const std::uint64_t end = std::uint64_t{address} + length;
  std::uint64_t cursor = address;
  while (cursor < end) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(cursor)), &region,
                     sizeof region) != sizeof region ||
        !IsReadable(region)) {
      return nullptr;
    }
    const std::uint64_t region_end =
        std::uint64_t{reinterpret_cast<std::uintptr_t>(region.BaseAddress)} + region.RegionSize;
    if (region_end <= cursor)
      return nullptr;  // no progress: never loop forever
    cursor = region_end;
  }
  return start;
}

const std::uint8_t* Win9xAddressSpace::Read(std::uint32_t address, std::uint32_t length) {
  const std::uint8_t* start = reinterpret_cast<const std::uint8_t*>(address);
  if (length == 0)
    return start;
  // Address 0 is never a table, whatever the family maps there.
  if (!FitsInAddressSpace(address, length) || address == 0)
    return nullptr;
  return IsBadReadPtr(start, length) ? nullptr : start;
}

std::uint8_t* GlobalMemory::AllocateZeroed(std::uint32_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_ZEROINIT, size);
  if (block == nullptr)
    return nullptr;
  void* address = GlobalLock(block);
  if (address == nullptr)
    GlobalFree(block);
  return static_cast<std::uint8_t*>(address);
}

void GlobalMemory::Free(std::uint8_t* block) {
  if (block == nullptr)
    return;
  HGLOBAL handle = GlobalHandle(block);
  if (handle == nullptr)
    return;
  GlobalUnlock(handle);
  GlobalFree(handle);
}
