// Where an SMBIOS structure table lies, as the SMBIOS reference describes it, for everything that
// finds a table outside the program's reader: dmiread and both stand-in drivers.
//
// * Entry points (`_SM_` with its intermediate `_DMI_`, `_SM3_`, the legacy `_DMI_`), read and
//   checked once: anchor, length byte, checksums.
// * Table files: a dump with its entry point at offset 0 and the table where it says, the
//   kernel's bare table with its entry point beside it, or a raw table.
// * The firmware's raw SMBIOS data as the system's firmware table interface answers it.
// * The scan of the firmware's memory (0xF0000-0xFFFFF) for an entry point, for systems that
//   have no such interface.
// * The walk that counts and measures structures.
//
// One list of problems with one message each, so the same bad file gets the same answer from
// every tool. Header-only and freestanding (fixed-width integers, no allocation, no C++ library),
// so the stand-ins can use it in the kernel.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "protocol/device_protocol.h"

namespace smbios {

// The longest table file anyone reads: an entry point, whatever lies between, and the table.
inline constexpr uint32_t kMaxTableFileSize = 1024 * 1024;

// In the order they are checked.
enum class TableProblem : uint8_t {
  kNone,
  kFileTooLarge,           // over kMaxTableFileSize
  kEntryPointCutShort,     // an anchor, but not the bytes its entry point needs
  kEntryPointBadLength,    // the entry point's length byte is not one the reference allows
  kEntryPointBadChecksum,  // its bytes do not sum to 0
  kIntermediateBroken,     // `_SM_` without a sound intermediate `_DMI_`
  kOutsideFile,            // the entry point names bytes the file does not have
  kTooLong,                // a table over kMaxTableLength bytes
  kFirmwareDataCutShort,   // the firmware's answer is shorter than it says
  kNoEntryPoint,           // the firmware's memory holds no usable entry point
  kTableAbove4GiB,         // the entry point places the table where 32 bits cannot reach
};

inline const char* DescribeTableProblem(TableProblem problem) {
  static const char* const kMessages[] = {
      "no problem",
      "table file over 1 MiB",
      "the entry point is cut short",
      "the entry point's length byte is wrong",
      "the entry point's checksum is wrong",
      "the entry point's intermediate _DMI_ is broken",
      "the entry point points outside the file",
      "table over 65535 bytes",
      "the firmware's table data is cut short",
      "no SMBIOS entry point in the firmware's memory",
      "the entry point places the table above 4 GiB",
  };
  static_assert(sizeof kMessages / sizeof kMessages[0] ==
                    static_cast<size_t>(TableProblem::kTableAbove4GiB) + 1,
                "one message for each problem");
  const size_t index = static_cast<size_t>(problem);
  return index < sizeof kMessages / sizeof kMessages[0] ? kMessages[index] : "unknown problem";
}

enum class EntryPointForm : uint8_t { kNone, kSm, kSm3, kDmi };

struct EntryPoint {
  EntryPointForm form = EntryPointForm::kNone;
  uint64_t table_address = 0;
  uint32_t table_length = 0;
  bool length_is_maximum = false;  // `_SM3_` gives an upper bound only
  bool has_structure_count = false;
  uint16_t structure_count = 0;
  bool has_max_structure_size = false;
  uint16_t max_structure_size = 0;
  uint16_t version = 0;  // major.minor as 0xMMmm; 0 when unknown
};

inline bool HasAnchor(const uint8_t* bytes, size_t size, const char* anchor) {
  size_t n = 0;
  for (; anchor[n] != '\0'; ++n) {
    if (n >= size || bytes[n] != static_cast<uint8_t>(anchor[n]))
      return false;
  }
  return true;
}

inline bool SumsToZero(const uint8_t* bytes, size_t n) {
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i)
    sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum == 0;
}

// The checks of the two SMBIOS forms: the `needed` bytes their fields take, a length byte (at
// `length_at`) from `min_length` to 0x20, and that many bytes summing to 0.
inline TableProblem CheckLengthAndSum(const uint8_t* b, size_t size, size_t needed,
                                      size_t length_at, uint8_t min_length) {
  if (size < needed)
    return TableProblem::kEntryPointCutShort;
  const uint8_t length = b[length_at];
  if (length < min_length || length > 0x20)
    return TableProblem::kEntryPointBadLength;
  if (size < length)
    return TableProblem::kEntryPointCutShort;
  return SumsToZero(b, length) ? TableProblem::kNone : TableProblem::kEntryPointBadChecksum;
}

// Reads and checks the entry point at `b`, of which `size` bytes are there. kNoEntryPoint when
// `b` starts with none of the three anchors; `ep` is written only when the entry point is sound.
inline TableProblem ReadEntryPoint(const uint8_t* b, size_t size, EntryPoint& ep) {
  EntryPoint found;
  if (HasAnchor(b, size, "_SM3_")) {
    const TableProblem problem = CheckLengthAndSum(b, size, 0x18, 0x06, 0x18);
    if (problem != TableProblem::kNone)
      return problem;
    found.form = EntryPointForm::kSm3;
    found.table_length = ReadLe32(b + 0x0C);
    found.length_is_maximum = true;
    found.table_address = ReadLe32(b + 0x10) | (uint64_t{ReadLe32(b + 0x14)} << 32);
    found.version = static_cast<uint16_t>(b[0x07] << 8 | b[0x08]);
  } else if (HasAnchor(b, size, "_SM_")) {
    // 0x1E is what some 2.1 firmware states for the 0x1F bytes it has; the intermediate entry
    // point at 0x10 ends at 0x1E either way.
    const TableProblem problem = CheckLengthAndSum(b, size, 0x1F, 0x05, 0x1E);
    if (problem != TableProblem::kNone)
      return problem;
    if (!HasAnchor(b + 0x10, 5, "_DMI_") || !SumsToZero(b + 0x10, 0x0F))
      return TableProblem::kIntermediateBroken;
    found.form = EntryPointForm::kSm;
    found.max_structure_size = ReadLe16(b + 0x08);
    found.has_max_structure_size = true;
    found.table_length = ReadLe16(b + 0x16);
    found.table_address = ReadLe32(b + 0x18);
    found.structure_count = ReadLe16(b + 0x1C);
    found.has_structure_count = true;
    found.version = static_cast<uint16_t>(b[0x06] << 8 | b[0x07]);
  } else if (HasAnchor(b, size, "_DMI_")) {
    if (size < 0x0F)
      return TableProblem::kEntryPointCutShort;
    if (!SumsToZero(b, 0x0F))
      return TableProblem::kEntryPointBadChecksum;
    found.form = EntryPointForm::kDmi;
    found.table_length = ReadLe16(b + 0x06);
    found.table_address = ReadLe32(b + 0x08);
    found.structure_count = ReadLe16(b + 0x0C);
    found.has_structure_count = true;
    found.version = static_cast<uint16_t>((b[0x0E] >> 4) << 8 | (b[0x0E] & 0x0F));  // BCD
  } else {
    return TableProblem::kNoEntryPoint;
  }
  ep = found;
  return TableProblem::kNone;
}

// Walks the structures the usual way: formatted length from byte 1, string set ended by a double
// NUL, up to and including the end-of-table structure (type 127); stops at a formatted length
// below 4 or at the table's end (a cut string set ends the table). Calls `visit(size)` for each.
template <typename Visit>
void WalkStructures(const uint8_t* table, size_t length, Visit visit) {
  size_t pos = 0;
  size_t count = 0;
  while (length - pos >= 4 && count < 0xFFFF) {
    const uint8_t type = table[pos];
    const uint8_t formatted = table[pos + 1];
    if (formatted < 4)
      return;
    ++count;
    size_t i = pos + formatted;
    while (i + 1 < length && (table[i] != 0 || table[i + 1] != 0))
      ++i;
    const size_t end = i + 1 < length ? i + 2 : length;
    visit(end - pos);
    if (type == 127 || i + 1 >= length)
      return;
    pos = end;
  }
}

inline uint16_t CountStructures(const uint8_t* table, size_t length) {
  size_t count = 0;
  WalkStructures(table, length, [&count](size_t) { ++count; });
  return static_cast<uint16_t>(count);
}

// The longest structure, formatted area and string set with its double NUL.
inline uint16_t LargestStructure(const uint8_t* table, size_t length) {
  size_t largest = 0;
  WalkStructures(table, length, [&largest](size_t size) {
    if (size > largest)
      largest = size;
  });
  return static_cast<uint16_t>(largest > 0xFFFF ? 0xFFFF : largest);
}

// A structure table found in a file or the firmware's answer. Nothing is copied: `bytes` points
// into the bytes that were read.
struct TableImage {
  const uint8_t* bytes = nullptr;
  uint32_t length = 0;
  uint16_t structure_count = 0;     // the entry point's, else counted
  uint16_t max_structure_size = 0;  // the entry point's, else measured
  uint32_t table_address = 0;       // as the entry point states it; 0 when there is none
  uint16_t version = 0;             // SMBIOS major.minor as 0xMMmm; 0 when unknown
  EntryPointForm form = EntryPointForm::kNone;  // the entry point it was found through
};

namespace detail {

inline void FillMissingCounts(TableImage& image, bool has_count, bool has_max) {
  if (!has_count)
    image.structure_count = CountStructures(image.bytes, image.length);
  if (!has_max)
    image.max_structure_size = LargestStructure(image.bytes, image.length);
}

inline void TakeEntryPointFacts(const EntryPoint& ep, TableImage& image) {
  image.form = ep.form;
  image.structure_count = ep.structure_count;
  image.max_structure_size = ep.max_structure_size;
  image.version = ep.version;
  image.table_address = static_cast<uint32_t>(ep.table_address);
  FillMissingCounts(image, ep.has_structure_count, ep.has_max_structure_size);
}

}  // namespace detail

// A table file's bytes: a dump (entry point at offset 0) or a raw table. A file that begins with
// an anchor is a dump, and one whose entry point fails its checks is a damaged dump, refused with
// the failed check: no raw table begins with an anchor (its first structure would be of the
// reserved type 95, formatted length 83 or 68), and reading a damaged dump as one walks the entry
// point's bytes as structures. `image` is written only when the answer is kNone.
inline TableProblem ReadTableFile(const uint8_t* bytes, size_t size, TableImage& image) {
  if (size > kMaxTableFileSize)
    return TableProblem::kFileTooLarge;
  TableImage found;
  EntryPoint ep;
  const TableProblem checked = ReadEntryPoint(bytes, size, ep);
  if (checked == TableProblem::kNoEntryPoint) {
    if (size > kMaxTableLength)
      return TableProblem::kTooLong;
    found.bytes = bytes;
    found.length = static_cast<uint32_t>(size);
    detail::FillMissingCounts(found, false, false);
    image = found;
    return TableProblem::kNone;
  }
  if (checked != TableProblem::kNone)
    return checked;
  if (ep.table_address > size || (ep.table_address == size && ep.table_length > 0))
    return TableProblem::kOutsideFile;
  const uint64_t available = size - ep.table_address;
  if (ep.length_is_maximum && ep.table_length > available)
    ep.table_length = static_cast<uint32_t>(available);
  if (ep.table_length > available)
    return TableProblem::kOutsideFile;
  if (ep.table_length > kMaxTableLength)
    return TableProblem::kTooLong;
  found.bytes = bytes + ep.table_address;
  found.length = ep.table_length;
  detail::TakeEntryPointFacts(ep, found);
  image = found;
  return TableProblem::kNone;
}

// The kernel's bare table (sysfs `DMI`) with the entry point it exports beside it
// (`smbios_entry_point`): the table as a table file, its count and sizes from that entry point
// when the table itself has none and the entry point checks out.
inline TableProblem ReadKernelTable(const uint8_t* table, size_t size, const uint8_t* entry_point,
                                    size_t entry_point_size, TableImage& image) {
  TableImage found;
  const TableProblem problem = ReadTableFile(table, size, found);
  if (problem != TableProblem::kNone)
    return problem;
  EntryPoint ep;
  if (found.form == EntryPointForm::kNone &&
      ReadEntryPoint(entry_point, entry_point_size, ep) == TableProblem::kNone) {
    detail::TakeEntryPointFacts(ep, found);
  }
  image = found;
  return TableProblem::kNone;
}

// The firmware table interface's answer: an 8-byte header (calling method, major, minor, DMI
// revision, 32-bit length), then the table.
inline TableProblem ReadFirmwareTable(const uint8_t* bytes, size_t size, TableImage& image) {
  if (size < 8)
    return TableProblem::kFirmwareDataCutShort;
  TableImage found;
  const uint32_t length = ReadLe32(bytes + 4);
  if (length > size - 8)
    return TableProblem::kFirmwareDataCutShort;
  if (length > kMaxTableLength)
    return TableProblem::kTooLong;
  found.bytes = bytes + 8;
  found.length = length;
  found.version = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
  detail::FillMissingCounts(found, false, false);
  image = found;
  return TableProblem::kNone;
}

// Where the firmware's memory scan found the structure table: physical addresses throughout.
struct FirmwareTable {
  uint32_t entry_point_address = 0;
  uint32_t table_address = 0;
  uint32_t table_length = 0;  // at most kMaxTableLength
  uint16_t structure_count = 0;
  uint16_t max_structure_size = 0;  // 0 for a legacy `_DMI_` entry point, which has none
  uint16_t version = 0;
};

// The firmware of the systems without a firmware table interface publishes its entry point on a
// 16-byte boundary in 0xF0000-0xFFFFF. `memory` holds `size` bytes of physical memory from
// `base_address` on; every 16-byte boundary in it is tried, in order, for a sound `_SM_` (with
// its intermediate `_DMI_`) or legacy `_DMI_` entry point whose table lies below 4 GiB. A
// `_SM3_` entry point is not taken: the driver hands out 32-bit addresses, firmware of that era
// publishes none, and firmware that does publishes a `_SM_` beside it when its table lies below
// 4 GiB. A failed candidate does not end the scan: a `_SM_` whose own checks fail is followed, 16
// bytes on, by its intermediate `_DMI_`, which is a legacy entry point with a checksum of its own
// and is taken when sound. When no candidate is sound, the answer is the first one's problem, or
// kNoEntryPoint when there was none at all. Made for a driver: it maps the 64 KiB read-only,
// scans it, and maps `table_length` bytes at `table_address` just long enough to copy them.
inline TableProblem FindFirmwareTable(const uint8_t* memory, size_t size, uint32_t base_address,
                                      FirmwareTable& table) {
  TableProblem first_problem = TableProblem::kNoEntryPoint;
  for (size_t at = (16 - base_address % 16) % 16; at < size; at += 16) {
    const uint8_t* b = memory + at;
    if (!HasAnchor(b, size - at, "_SM_") && !HasAnchor(b, size - at, "_DMI_"))
      continue;
    EntryPoint ep;
    TableProblem problem = ReadEntryPoint(b, size - at, ep);
    if (problem == TableProblem::kNone && ep.table_address + ep.table_length > 0x100000000u)
      problem = TableProblem::kTableAbove4GiB;
    if (problem != TableProblem::kNone) {
      if (first_problem == TableProblem::kNoEntryPoint)
        first_problem = problem;
      continue;
    }
    FirmwareTable found;
    found.entry_point_address = static_cast<uint32_t>(base_address + at);
    found.table_address = static_cast<uint32_t>(ep.table_address);
    found.table_length = ep.table_length;
    found.structure_count = ep.structure_count;
    found.max_structure_size = ep.max_structure_size;
    found.version = ep.version;
    table = found;
    return TableProblem::kNone;
  }
  return first_problem;
}

}  // namespace smbios
