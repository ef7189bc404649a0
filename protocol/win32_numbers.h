// The Win32 numbers that steer the program's portable logic (the flow's paths, the administrator
// check and the driver service), as our own named constants, so that it builds and is tested
// without <windows.h>. The Windows side checks each against the platform's own definition
// (hw/win32/device_channel.cpp). It sits at the bottom, beside the device protocol, because the
// flow and the hardware logic both speak it and the flow must not reach into hw/.
#pragma once

#include <cstdint>

namespace win32 {

// Error codes (GetLastError).
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
// What a call of a function the system does not export fails with.
inline constexpr std::uint32_t kErrorProcNotFound = 127;
inline constexpr std::uint32_t kErrorNoToken = 1008;
inline constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kErrorServiceNotActive = 1062;
inline constexpr std::uint32_t kErrorServiceExists = 1073;

// File access.
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;

// Service control manager.
inline constexpr std::uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr std::uint32_t kServiceKernelDriver = 1;
inline constexpr std::uint32_t kServiceDemandStart = 3;
inline constexpr std::uint32_t kServiceErrorNormal = 1;

// Message boxes.
inline constexpr std::uint32_t kMbRetryCancel = 5;
inline constexpr int kIdRetry = 4;

// The program builds every path in a buffer of this many characters, terminator included.
inline constexpr std::uint32_t kMaxPath = 260;

}  // namespace win32
