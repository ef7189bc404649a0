// What crosses the device channel to the outside drivers: device names, request codes, buffer
// sizes, the table descriptor with its one encoding and decoding, where a served table splits
// around its page's end, and the largest table anyone serves or reads. It sits at the bottom of
// the program: the table reader, the device channel, the stand-in drivers and the host tools all
// build against this one header, so every side agrees. Freestanding and header-only (fixed-width
// integers only, nothing else of ours), so a kernel driver can include it too.
#pragma once

#include <stdint.h>

// Little-endian reads and writes at any byte address: the descriptor's fields, and every value
// in an SMBIOS entry point or table.
inline uint16_t ReadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void WriteLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void WriteLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<uint8_t>(v >> (8 * i));
}

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

// The reader takes only the low 16 bits of a table's length, so no table is longer than this:
// the drivers serve nothing longer and the tools read nothing longer.
inline constexpr uint32_t kMaxTableLength = 0xFFFF;

// Byte offsets of the descriptor's fields on the wire, then its size.
inline constexpr uint32_t kDescFirstPiece = 0;
inline constexpr uint32_t kDescSecondPiece = 4;
inline constexpr uint32_t kDescStructureCount = 8;
inline constexpr uint32_t kDescMaxStructureSize = 10;
inline constexpr uint32_t kDescDriverValue1 = 12;
inline constexpr uint32_t kDescTableLength = 16;
inline constexpr uint32_t kDescDriverValue2 = 20;
inline constexpr uint32_t kDescDriverValue3 = 24;
inline constexpr uint32_t kDescUnnamed = 26;
inline constexpr uint32_t kTableDescriptorSize = 28;

// The table descriptor: the get-table request answers it and the release-table request sends it
// back unchanged, so Decode and Encode keep every one of its bytes.
struct DmiTableDescriptor {
  uint32_t FirstPiece = 0;        // address of the table's first byte
  uint32_t SecondPiece = 0;       // 0, or where the part past FirstPiece's page continues
  uint16_t StructureCount = 0;    // bound for structure handles
  uint16_t MaxStructureSize = 0;  // scratch size the reader asks for next time
  uint32_t DriverValue1 = 0;
  uint32_t TableLength = 0;  // only the low 16 bits count
  uint32_t DriverValue2 = 0;
  uint16_t DriverValue3 = 0;
  uint16_t Unnamed = 0;  // never read by the program

  static constexpr uint32_t kSize = kTableDescriptorSize;

  static DmiTableDescriptor Decode(const uint8_t* b) {
    DmiTableDescriptor d;
    d.FirstPiece = ReadLe32(b + kDescFirstPiece);
    d.SecondPiece = ReadLe32(b + kDescSecondPiece);
    d.StructureCount = ReadLe16(b + kDescStructureCount);
    d.MaxStructureSize = ReadLe16(b + kDescMaxStructureSize);
    d.DriverValue1 = ReadLe32(b + kDescDriverValue1);
    d.TableLength = ReadLe32(b + kDescTableLength);
    d.DriverValue2 = ReadLe32(b + kDescDriverValue2);
    d.DriverValue3 = ReadLe16(b + kDescDriverValue3);
    d.Unnamed = ReadLe16(b + kDescUnnamed);
    return d;
  }

  void Encode(uint8_t* b) const {
    WriteLe32(b + kDescFirstPiece, FirstPiece);
    WriteLe32(b + kDescSecondPiece, SecondPiece);
    WriteLe16(b + kDescStructureCount, StructureCount);
    WriteLe16(b + kDescMaxStructureSize, MaxStructureSize);
    WriteLe32(b + kDescDriverValue1, DriverValue1);
    WriteLe32(b + kDescTableLength, TableLength);
    WriteLe32(b + kDescDriverValue2, DriverValue2);
    WriteLe16(b + kDescDriverValue3, DriverValue3);
    WriteLe16(b + kDescUnnamed, Unnamed);
  }
};

// The page a driver places the table in: a table that runs past the page of its first byte is
// reported in two pieces, the head up to that page's end and the tail elsewhere.
inline constexpr uint32_t kTablePageSize = 4096;

struct TablePieces {
  uint32_t head_length;  // from the first byte to the end of its page, at most the table
  uint32_t tail_length;  // the rest; 0 when the table fits its first page
};

constexpr TablePieces SplitAtPage(uint32_t first_address, uint32_t length) {
  const uint32_t room = kTablePageSize - first_address % kTablePageSize;
  const uint32_t head = length < room ? length : room;
  return {head, length - head};
}
