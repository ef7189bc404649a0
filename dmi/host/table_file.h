// Structure tables as people save them, read from disk: a raw table, a `dmidecode --dump-bin`
// file (entry point at offset 0, table where the entry point says), or the kernel's
// /sys/firmware/dmi/tables/DMI with its sibling smbios_entry_point. What the bytes mean is
// smbios/smbios_dump.h's, shared with the stand-in drivers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "smbios/smbios_dump.h"

struct TableFile {
  std::vector<std::uint8_t> table;
  std::uint16_t structure_count = 0;     // the entry point's, else counted
  std::uint16_t max_structure_size = 0;  // the entry point's, else measured
};

// Reads a table file; for a file named DMI beside a smbios_entry_point, that entry point supplies
// the structure count. False with a one-line reason that starts with the path.
bool LoadTableFile(const std::string& path, TableFile& file, std::string& error);
