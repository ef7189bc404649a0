// SMBIOS entry points as firmware writes them, checksums included, and dump files built from
// them: for the table-file tests of dmiread and the stand-ins, and the firmware-memory scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline void PutLe(Bytes& b, std::size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Sets b[sum_at] so that the `length` bytes from `from` sum to 0.
inline void SetChecksum(Bytes& b, std::size_t from, std::size_t length, std::size_t sum_at) {
  b[sum_at] = 0;
  std::uint8_t sum = 0;
  for (std::size_t i = from; i < from + length; ++i)
    sum = static_cast<std::uint8_t>(sum + b[i]);
  b[sum_at] = static_cast<std::uint8_t>(0x100 - sum);
}

// Puts right the checksums of the entry point at `at` after a test changed one of its fields.
inline void Resum(Bytes& b, std::size_t at = 0) {
  if (std::memcmp(&b[at], "_SM3_", 5) == 0) {
    SetChecksum(b, at, b[at + 0x06], at + 0x05);
  } else if (std::memcmp(&b[at], "_SM_", 4) == 0) {
    SetChecksum(b, at + 0x10, 0x0F, at + 0x15);
    SetChecksum(b, at, b[at + 0x05], at + 0x04);
  } else {
    SetChecksum(b, at, 0x0F, at + 0x05);
  }
}

// The legacy form, revision 2.1 in BCD.
inline Bytes DmiEntryPoint(std::uint32_t address, std::uint16_t length, std::uint16_t count) {
  Bytes b(0x0F, 0);
  std::memcpy(b.data(), "_DMI_", 5);
  PutLe(b, 0x06, length, 2);
  PutLe(b, 0x08, address, 4);
  PutLe(b, 0x0C, count, 2);
  b[0x0E] = 0x21;
  Resum(b);
  return b;
}

// The 32-bit form: its intermediate entry point at 0x10 is the legacy form.
inline Bytes SmEntryPoint(std::uint32_t address, std::uint16_t length, std::uint16_t count,
                          std::uint16_t max_size = 0) {
  Bytes b(0x1F, 0);
  std::memcpy(b.data(), "_SM_", 4);
  b[0x05] = 0x1F;
  b[0x06] = 2;
  b[0x07] = 7;
  PutLe(b, 0x08, max_size, 2);
  const Bytes intermediate = DmiEntryPoint(address, length, count);
  std::memcpy(b.data() + 0x10, intermediate.data(), intermediate.size());
  Resum(b);
  return b;
}

// 64-bit: no structure count, and the length is a maximum.
inline Bytes Sm3EntryPoint(std::uint64_t address, std::uint32_t maximum_length) {
  Bytes b(0x18, 0);
  std::memcpy(b.data(), "_SM3_", 5);
  b[0x06] = 0x18;
  b[0x07] = 3;
  b[0x08] = 2;
  b[0x0A] = 1;
  PutLe(b, 0x0C, maximum_length, 4);
  PutLe(b, 0x10, address, 8);
  Resum(b);
  return b;
}

// A dump as `dmidecode --dump-bin` writes one: the entry point at 0, the table at 0x20.
inline Bytes DumpOf(Bytes entry_point, const Bytes& table) {
  entry_point.resize(0x20, 0);
  entry_point.insert(entry_point.end(), table.begin(), table.end());
  return entry_point;
}
