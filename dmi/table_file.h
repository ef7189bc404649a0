// Structure tables as people save them: a raw table, a `dmidecode --dump-bin` file (entry point
// at offset 0, table where the entry point says), or the kernel's /sys/firmware/dmi/tables/DMI
// with its sibling smbios_entry_point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/device_protocol.h"

struct TableImage {
  std::vector<std::uint8_t> table;
  std::optional<std::uint16_t> structure_count;  // from an entry point that carries one
  std::uint16_t max_structure_size = 0;
};

// Reads a raw table or a dump from `bytes`. False with a one-line reason when the bytes start
// with an entry point that is cut short, points outside the bytes, or names a table over 65535
// bytes, or when a raw table is over 65535 bytes.
bool ParseTableImage(const std::vector<std::uint8_t>& bytes, TableImage& image, std::string& error);

// Reads a table file from disk; for a file named DMI beside a smbios_entry_point, the entry point
// supplies the structure count.
bool LoadTableFile(const std::string& path, TableImage& image, std::string& error);

// Counts structures the usual way: formatted length from byte 1, string set ended by a double
// NUL, up to and including the end-of-table structure (type 127); stops at a formatted length
// below 4 or at the table's end.
std::uint16_t CountStructures(const std::uint8_t* table, std::size_t length);
