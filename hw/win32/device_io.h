// The two platform calls every request on the device channel goes through.
//
// The shipped program links device_io_win32.cpp (CreateFileA and DeviceIoControl). A test build
// links its own answers instead, so that the rest of the program runs unchanged before real
// drivers are at hand.
#pragma once

#include <windows.h>

// CreateFileA(path, access, share, no security attributes, disposition, flags, no template).
HANDLE OpenDeviceFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);

// One synchronous DeviceIoControl without an overlapped record. True on success; the count of
// bytes returned is not looked at.
bool SendDeviceRequest(HANDLE device, DWORD code, void* in, DWORD in_size, void* out,
                       DWORD out_size);
