// What the SMBIOS reference says about where a structure table lies and how its structures end,
// for the code that reads saved tables (dmiread's table files) and for the stand-in drivers that
// serve them. Header-only and freestanding (no C++ library, no allocation), so a kernel driver can
// use it too.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "protocol/device_protocol.h"

namespace smbios {

// A table's entry point, as a dump file starts with it.
struct EntryPoint {
  uint64_t table_address = 0;
  uint32_t table_length = 0;
  bool length_is_maximum = false;  // 64-bit entry points give an upper bound only
  bool has_structure_count = false;
  uint16_t structure_count = 0;
  bool has_max_structure_size = false;
  uint16_t max_structure_size = 0;
  uint16_t version = 0;  // major.minor as 0xMMmm; 0 when unknown
};

enum class EntryPointKind { kNone, kParsed, kTruncated };

inline bool StartsWith(const uint8_t* bytes, size_t size, const char* anchor) {
  size_t n = 0;
  while (anchor[n] != '\0')
    ++n;
  if (size < n)
    return false;
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] != static_cast<uint8_t>(anchor[i]))
      return false;
  }
  return true;
}

// The three entry point forms: `_SM3_` (64-bit, no structure count), `_SM_` and `_DMI_`.
inline EntryPointKind ParseEntryPoint(const uint8_t* b, size_t size, EntryPoint& ep) {
  if (StartsWith(b, size, "_SM3_")) {
    if (size < 0x18)
      return EntryPointKind::kTruncated;
    ep.table_length = ReadLe32(b + 0x0C);
    ep.length_is_maximum = true;
    ep.table_address = ReadLe32(b + 0x10) | (uint64_t{ReadLe32(b + 0x14)} << 32);
    ep.version = static_cast<uint16_t>(b[0x07] << 8 | b[0x08]);
    return EntryPointKind::kParsed;
  }
  if (StartsWith(b, size, "_SM_")) {
    if (size < 0x1E)
      return EntryPointKind::kTruncated;
    ep.max_structure_size = ReadLe16(b + 0x08);
    ep.has_max_structure_size = true;
    ep.table_length = ReadLe16(b + 0x16);
    ep.table_address = ReadLe32(b + 0x18);
    ep.structure_count = ReadLe16(b + 0x1C);
    ep.has_structure_count = true;
    ep.version = static_cast<uint16_t>(b[0x06] << 8 | b[0x07]);
    return EntryPointKind::kParsed;
  }
  if (StartsWith(b, size, "_DMI_")) {
    if (size < 0x0E)
      return EntryPointKind::kTruncated;
    ep.table_length = ReadLe16(b + 0x06);
    ep.table_address = ReadLe32(b + 0x08);
    ep.structure_count = ReadLe16(b + 0x0C);
    ep.has_structure_count = true;
    if (size > 0x0E)  // BCD revision
      ep.version = static_cast<uint16_t>((b[0x0E] >> 4) << 8 | (b[0x0E] & 0x0F));
    return EntryPointKind::kParsed;
  }
  return EntryPointKind::kNone;
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

}  // namespace smbios
