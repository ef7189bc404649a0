// What crosses the device channel to the outside drivers: device names, request codes, buffer
// sizes and the layout of the table descriptor. It sits at the bottom of the program: the table
// reader, the device channel and the stand-in drivers all build against this one header, so every
// side agrees, and it includes nothing of ours. It is freestanding (no C++ library beyond
// <stdint.h>), so a kernel driver can include it too.
#pragma once

#include <stdint.h>

// "\\.\" + name, as CreateFileA expects it.
inline constexpr char kNtDevicePath[] = "\\\\.\\ZYNDRV";
inline constexpr char kVxdDevicePath[] = "\\\\.\\ZYNDATA.VXD";

// NT family: device type 0x22 (FILE_DEVICE_UNKNOWN), METHOD_BUFFERED, FILE_ANY_ACCESS,
// functions 0x8F, 0x8D and 0x8E.
constexpr uint32_t NtControlCode(uint32_t function) {
  return (0x22u << 16) | (0u << 14) | (function << 2) | 0u;
}
inline constexpr uint32_t kNtProbeRequest = NtControlCode(0x8F);
inline constexpr uint32_t kNtGetTableRequest = NtControlCode(0x8D);
inline constexpr uint32_t kNtReleaseTableRequest = NtControlCode(0x8E);
static_assert(kNtProbeRequest == 0x22023C, "probe request code");
static_assert(kNtGetTableRequest == 0x220234, "get-table request code");
static_assert(kNtReleaseTableRequest == 0x220238, "release-table request code");

// 9x family: the VxD takes small plain numbers.
inline constexpr uint32_t kVxdProbeRequest = 1;
inline constexpr uint32_t kVxdGetTableRequest = 2;
inline constexpr uint32_t kVxdReleaseTableRequest = 3;

// Probe: the 2-byte ProbeWord is both input and output.
inline constexpr uint32_t kProbeWordSize = 2;

// The table descriptor: the get-table request answers it and the release-table request sends it
// back unchanged. Little-endian; byte offsets of its fields, then its size.
inline constexpr uint32_t kDescFirstPiece = 0;         // 4 bytes: address of the table's first byte
inline constexpr uint32_t kDescSecondPiece = 4;        // 4: 0, or where the rest past its page is
inline constexpr uint32_t kDescStructureCount = 8;     // 2
inline constexpr uint32_t kDescMaxStructureSize = 10;  // 2
inline constexpr uint32_t kDescDriverValue1 = 12;      // 4
inline constexpr uint32_t kDescTableLength = 16;       // 4: only the low 16 bits count
inline constexpr uint32_t kDescDriverValue2 = 20;      // 4
inline constexpr uint32_t kDescDriverValue3 = 24;      // 2
inline constexpr uint32_t kDescUnnamed = 26;           // 2: never read by the program
inline constexpr uint32_t kTableDescriptorSize = 28;

// The page the drivers place the table in: a table that runs past the page of its first byte is
// reported in two pieces.
inline constexpr uint32_t kTablePageSize = 4096;
