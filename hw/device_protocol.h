// What crosses the device channel to the outside drivers: device names, request codes and
// buffer sizes. The stand-in drivers build against this header too, so both sides agree.
#pragma once

#include <cstdint>

// "\\.\" + name, as CreateFileA expects it.
inline constexpr char kNtDevicePath[] = "\\\\.\\ZYNDRV";
inline constexpr char kVxdDevicePath[] = "\\\\.\\ZYNDATA.VXD";

// NT family: device type 0x22 (FILE_DEVICE_UNKNOWN), METHOD_BUFFERED, FILE_ANY_ACCESS,
// functions 0x8F, 0x8D and 0x8E.
constexpr std::uint32_t NtControlCode(std::uint32_t function) {
  return (0x22u << 16) | (0u << 14) | (function << 2) | 0u;
}
inline constexpr std::uint32_t kNtProbeRequest = NtControlCode(0x8F);
inline constexpr std::uint32_t kNtGetTableRequest = NtControlCode(0x8D);
inline constexpr std::uint32_t kNtReleaseTableRequest = NtControlCode(0x8E);
static_assert(kNtProbeRequest == 0x22023C);
static_assert(kNtGetTableRequest == 0x220234);
static_assert(kNtReleaseTableRequest == 0x220238);

// 9x family: the VxD takes small plain numbers.
inline constexpr std::uint32_t kVxdProbeRequest = 1;
inline constexpr std::uint32_t kVxdGetTableRequest = 2;
inline constexpr std::uint32_t kVxdReleaseTableRequest = 3;

// Probe: the 2-byte ProbeWord is both input and output.
inline constexpr std::uint32_t kProbeWordSize = 2;
// Get-table answers, and release-table sends back, one 28-byte DmiTableDescriptor.
inline constexpr std::uint32_t kTableDescriptorSize = 28;
