#include "hw/win32/device_io.h"

HANDLE OpenDeviceFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

bool SendDeviceRequest(HANDLE device, DWORD code, void* in, DWORD in_size, void* out,
                       DWORD out_size) {
  // Without an overlapped record the count must have somewhere to go, even though it is unused.
  DWORD returned = 0;
  return DeviceIoControl(device, code, in, in_size, out, out_size, &returned, nullptr) != 0;
}
