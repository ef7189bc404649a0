#include "table_image.h"

#include "text.h"

namespace standin {
namespace {

bool StartsWith(const uint8_t* bytes, size_t size, const char* anchor) {
  const size_t n = TextLength(anchor);
  return size >= n && SameBytes(bytes, anchor, n);
}

// Walks structures as CountStructures describes; calls `visit(size)` for each.
template <typename Visit>
void WalkStructures(const uint8_t* table, uint32_t length, Visit visit) {
  uint32_t pos = 0;
  uint32_t count = 0;
  while (length - pos >= 4 && count < 0xFFFF) {
    const uint8_t type = table[pos];
    const uint8_t formatted = table[pos + 1];
    if (formatted < 4)
      return;
    ++count;
    uint32_t i = pos + formatted;
    while (i + 1 < length && (table[i] != 0 || table[i + 1] != 0))
      ++i;
    const uint32_t end = i + 1 < length ? i + 2 : length;  // a cut string set ends the table
    visit(end - pos);
    if (type == 127 || i + 1 >= length)
      return;
    pos = end;
  }
}

TableProblem Finish(const uint8_t* bytes, size_t size, uint64_t address, uint32_t length,
                    bool length_is_maximum, TableImage& image) {
  if (address > size || (address == size && length > 0))
    return TableProblem::kOutsideFile;
  const uint64_t available = size - address;
  if (length_is_maximum && length > available)
    length = static_cast<uint32_t>(available);
  if (length > available)
    return TableProblem::kOutsideFile;
  if (length > kMaxServedTable)
    return TableProblem::kTooLong;
  image.bytes = bytes + address;
  image.length = length;
  return TableProblem::kNone;
}

void FillMissingCounts(TableImage& image, bool has_count, bool has_max) {
  if (!has_count)
    image.structure_count = CountStructures(image.bytes, image.length);
  if (!has_max)
    image.max_structure_size = LargestStructure(image.bytes, image.length);
}

}  // namespace

uint16_t CountStructures(const uint8_t* table, uint32_t length) {
  uint32_t count = 0;
  WalkStructures(table, length, [&count](uint32_t) { ++count; });
  return static_cast<uint16_t>(count);
}

uint16_t LargestStructure(const uint8_t* table, uint32_t length) {
  uint32_t largest = 0;
  WalkStructures(table, length, [&largest](uint32_t size) {
    if (size > largest)
      largest = size;
  });
  return static_cast<uint16_t>(largest > 0xFFFF ? 0xFFFF : largest);
}

TableProblem ReadTableFile(const uint8_t* bytes, size_t size, TableImage& image) {
  TableImage found;
  TableProblem problem;
  bool has_count = false;
  bool has_max = false;
  if (StartsWith(bytes, size, "_SM3_")) {
    // 64-bit entry point: a maximum length, no structure count.
    if (size < 0x18)
      return TableProblem::kEntryPointCutShort;
    const uint64_t address = ReadLe(bytes + 0x10, 4) | (uint64_t{ReadLe(bytes + 0x14, 4)} << 32);
    problem = Finish(bytes, size, address, ReadLe(bytes + 0x0C, 4), true, found);
    found.version = static_cast<uint16_t>(bytes[0x07] << 8 | bytes[0x08]);
    found.table_address = static_cast<uint32_t>(address);
  } else if (StartsWith(bytes, size, "_SM_")) {
    if (size < 0x1E)
      return TableProblem::kEntryPointCutShort;
    problem = Finish(bytes, size, ReadLe(bytes + 0x18, 4), ReadLe(bytes + 0x16, 2), false, found);
    found.max_structure_size = static_cast<uint16_t>(ReadLe(bytes + 0x08, 2));
    found.structure_count = static_cast<uint16_t>(ReadLe(bytes + 0x1C, 2));
    found.version = static_cast<uint16_t>(bytes[0x06] << 8 | bytes[0x07]);
    found.table_address = ReadLe(bytes + 0x18, 4);
    has_count = has_max = true;
  } else if (StartsWith(bytes, size, "_DMI_")) {
    if (size < 0x0E)
      return TableProblem::kEntryPointCutShort;
    problem = Finish(bytes, size, ReadLe(bytes + 0x08, 4), ReadLe(bytes + 0x06, 2), false, found);
    found.structure_count = static_cast<uint16_t>(ReadLe(bytes + 0x0C, 2));
    if (size > 0x0E)  // BCD revision
      found.version = static_cast<uint16_t>((bytes[0x0E] >> 4) << 8 | (bytes[0x0E] & 0x0F));
    found.table_address = ReadLe(bytes + 0x08, 4);
    has_count = true;
  } else {
    if (size > kMaxServedTable)
      return TableProblem::kTooLong;
    problem = Finish(bytes, size, 0, static_cast<uint32_t>(size), false, found);
  }
  if (problem != TableProblem::kNone)
    return problem;
  FillMissingCounts(found, has_count, has_max);
  image = found;
  return TableProblem::kNone;
}

TableProblem ReadFirmwareTable(const uint8_t* bytes, size_t size, TableImage& image) {
  if (size < 8)
    return TableProblem::kFirmwareDataCutShort;
  TableImage found;
  const uint32_t length = ReadLe(bytes + 4, 4);
  if (length > size - 8)
    return TableProblem::kFirmwareDataCutShort;
  if (length > kMaxServedTable)
    return TableProblem::kTooLong;
  found.bytes = bytes + 8;
  found.length = length;
  found.version = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
  FillMissingCounts(found, false, false);
  image = found;
  return TableProblem::kNone;
}

const char* DescribeTableProblem(TableProblem problem) {
  switch (problem) {
    case TableProblem::kNone:
      return "no problem";
    case TableProblem::kEntryPointCutShort:
      return "the entry point is cut short";
    case TableProblem::kOutsideFile:
      return "the entry point points outside the file";
    case TableProblem::kTooLong:
      return "table over 65535 bytes";
    case TableProblem::kFirmwareDataCutShort:
      return "the firmware's table data is cut short";
  }
  return "unknown problem";
}

}  // namespace standin
