// Where the structure table lies in what a stand-in was given: a table file (a dump that starts
// with an `_SM_`, `_SM3_` or `_DMI_` entry point, or a raw structure table) or the firmware's
// raw SMBIOS data as the system reports it ('RSMB'). Nothing is copied: the image points into
// the caller's bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "protocol/device_protocol.h"

namespace standin {

struct TableImage {
  const uint8_t* bytes = nullptr;
  uint32_t length = 0;
  uint16_t structure_count = 0;     // the entry point's, else counted
  uint16_t max_structure_size = 0;  // the entry point's, else measured
  uint32_t table_address = 0;       // as the entry point states it; 0 when there is none
  uint16_t version = 0;             // SMBIOS major.minor as 0xMMmm; 0 when unknown
};

enum class TableProblem : uint8_t {
  kNone,
  kEntryPointCutShort,
  kOutsideFile,  // the entry point names bytes the file does not have
  kTooLong,      // over 65535 bytes
  kFirmwareDataCutShort
};

TableProblem ReadTableFile(const uint8_t* bytes, size_t size, TableImage& image);

// The firmware provider's answer: a 8-byte header (calling method, major, minor, DMI revision,
// 32-bit length) and the table.
TableProblem ReadFirmwareTable(const uint8_t* bytes, size_t size, TableImage& image);

const char* DescribeTableProblem(TableProblem problem);

// Structures up to and including the end-of-table structure (type 127): formatted length from
// byte 1, string set ended by a double NUL. Stops at a formatted length below 4 or the end.
uint16_t CountStructures(const uint8_t* table, uint32_t length);

// The longest of those structures, formatted area and string set with its double NUL.
uint16_t LargestStructure(const uint8_t* table, uint32_t length);

}  // namespace standin
