#include "table_image.h"

#include "dmi/smbios_layout.h"
#include "text.h"

namespace standin {
namespace {

TableProblem Finish(const uint8_t* bytes, size_t size, uint64_t address, uint32_t length,
                    bool length_is_maximum, TableImage& image) {
  if (address > size || (address == size && length > 0))
    return TableProblem::kOutsideFile;
  const uint64_t available = size - address;
  if (length_is_maximum && length > available)
    length = static_cast<uint32_t>(available);
  if (length > available)
    return TableProblem::kOutsideFile;
  if (length > kMaxTableLength)
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
  return smbios::CountStructures(table, length);
}

uint16_t LargestStructure(const uint8_t* table, uint32_t length) {
  size_t largest = 0;
  smbios::WalkStructures(table, length, [&largest](size_t size) {
    if (size > largest)
      largest = size;
  });
  return static_cast<uint16_t>(largest > 0xFFFF ? 0xFFFF : largest);
}

TableProblem ReadTableFile(const uint8_t* bytes, size_t size, TableImage& image) {
  TableImage found;
  TableProblem problem;
  smbios::EntryPoint ep;
  switch (smbios::ParseEntryPoint(bytes, size, ep)) {
    case smbios::EntryPointKind::kTruncated:
      return TableProblem::kEntryPointCutShort;
    case smbios::EntryPointKind::kParsed:
      problem = Finish(bytes, size, ep.table_address, ep.table_length, ep.length_is_maximum, found);
      found.structure_count = ep.structure_count;
      found.max_structure_size = ep.max_structure_size;
      found.version = ep.version;
      found.table_address = static_cast<uint32_t>(ep.table_address);
      break;
    case smbios::EntryPointKind::kNone:
    default:
      if (size > kMaxTableLength)
        return TableProblem::kTooLong;
      problem = Finish(bytes, size, 0, static_cast<uint32_t>(size), false, found);
      break;
  }
  if (problem != TableProblem::kNone)
    return problem;
  FillMissingCounts(found, ep.has_structure_count, ep.has_max_structure_size);
  image = found;
  return TableProblem::kNone;
}

TableProblem ReadFirmwareTable(const uint8_t* bytes, size_t size, TableImage& image) {
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
