#include "standin/core/load_startup.h"

#include "standin/core/table_path.h"
#include "standin/core/text.h"

namespace standin {
namespace {

bool Refuse(Startup& startup, const char* first, const char* second = "", const char* third = "") {
  TextWriter(startup.message, sizeof startup.message).Add(first).Add(second).Add(third);
  return false;
}

bool RefuseAtLine(Startup& startup, const char* config_name, const char* what, const char* detail) {
  FormatLineMessage(startup.message, sizeof startup.message, config_name, startup.config.table_line,
                    what, detail);
  return false;
}

bool LoadFirmware(const char* config_name, FileReader& files, Startup& startup) {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  if (!files.ReadFirmware(bytes, size))
    return Refuse(startup, "no ", config_name, ", and the firmware reports no SMBIOS table");
  const smbios::TableProblem problem = smbios::ReadFirmwareTable(bytes, size, startup.image);
  if (problem != smbios::TableProblem::kNone)
    return Refuse(startup, "the firmware's SMBIOS table: ", smbios::DescribeTableProblem(problem));
  startup.from_firmware = true;
  return true;
}

}  // namespace

FileReader::Result FileReader::ReadWhole(Slot slot, const char* path, uint32_t max_size,
                                         const uint8_t*& bytes, uint32_t& size) {
  Result result = Open(path);
  if (result != Result::kRead)
    return result;
  uint32_t low = 0, high = 0;
  uint8_t* block = nullptr;
  if (!Size(low, high))
    result = Result::kFailed;
  else if (high != 0 || low > max_size)
    result = Result::kTooLarge;
  else if ((block = Allocate(slot, low)) == nullptr)
    result = Result::kFailed;
  for (uint32_t done = 0; result == Result::kRead && done < low;) {
    const uint32_t got = Read(block + done, done, low - done);
    if (got == 0 || got > low - done)
      result = Result::kFailed;  // the file shrank under us: never serve half a table
    done += got;
  }
  Close();
  if (result == Result::kRead) {
    bytes = block;
    size = low;
  }
  return result;
}

FileReader::Result FileReader::Open(const char*) {
  return Result::kFailed;
}

bool FileReader::Size(uint32_t&, uint32_t&) {
  return false;
}

uint32_t FileReader::Read(uint8_t*, uint32_t, uint32_t) {
  return 0;
}

void FileReader::Close() {}

uint8_t* FileReader::Allocate(Slot, uint32_t) {
  return nullptr;
}

bool FileReader::ReadFirmware(const uint8_t*&, uint32_t&) {
  return false;
}

const uint8_t* PhysicalMemory::Map(uint32_t, uint32_t) {
  return nullptr;
}

void PhysicalMemory::Unmap(const uint8_t*, uint32_t) {}

uint8_t* PhysicalMemory::Allocate(uint32_t) {
  return nullptr;
}

bool CopyFirmwareTable(PhysicalMemory& memory, const uint8_t*& bytes, uint32_t& size,
                       smbios::TableProblem& problem) {
  problem = smbios::TableProblem::kNone;
  smbios::FirmwareTable table;
  const uint8_t* area = memory.Map(kFirmwareAreaAddress, kFirmwareAreaLength);
  if (area == nullptr)
    return false;
  problem = smbios::FindFirmwareTable(area, kFirmwareAreaLength, kFirmwareAreaAddress, table);
  memory.Unmap(area, kFirmwareAreaLength);
  if (problem != smbios::TableProblem::kNone)
    return false;

  uint8_t* copy = memory.Allocate(8 + table.table_length);
  if (copy == nullptr)
    return false;
  FillBytes(copy, 0, 8);
  copy[1] = static_cast<uint8_t>(table.version >> 8);
  copy[2] = static_cast<uint8_t>(table.version);
  WriteLe32(copy + 4, table.table_length);
  if (table.table_length > 0) {
    const uint8_t* mapped = memory.Map(table.table_address, table.table_length);
    if (mapped == nullptr)
      return false;
    CopyBytes(copy + 8, mapped, table.table_length);
    memory.Unmap(mapped, table.table_length);
  }
  bytes = copy;
  size = 8 + table.table_length;
  return true;
}

bool LoadStartup(const char* image_path, const char* config_name, FileReader& files,
                 Startup& startup) {
  if (!FolderOf(image_path, startup.folder, sizeof startup.folder) ||
      !ResolvePath(startup.folder, config_name, startup.config_path, sizeof startup.config_path))
    return Refuse(startup, "the image's path is too long");

  const uint8_t* text = nullptr;
  uint32_t size = 0;
  switch (files.ReadWhole(FileReader::Slot::kConfig, startup.config_path, kMaxConfigBytes, text,
                          size)) {
    case FileReader::Result::kMissing:
      return LoadFirmware(config_name, files, startup);
    case FileReader::Result::kTooLarge:
      return Refuse(startup, startup.config_path, " is over 64 KiB");
    case FileReader::Result::kFailed:
      return Refuse(startup, startup.config_path, " cannot be read");
    case FileReader::Result::kRead:
      break;
  }
  ConfigError error;
  if (!ParseConfig(reinterpret_cast<const char*>(text), size, startup.config, error)) {
    FormatConfigError(startup.message, sizeof startup.message, config_name, error);
    return false;
  }
  if (startup.config.table[0] == '\0')
    return LoadFirmware(config_name, files, startup);

  // Only a file beside the stand-in: a path elsewhere would let whoever writes the configuration
  // serve any file, or make the system account open a remote share.
  if (!IsPlainFileName(startup.config.table))
    return RefuseAtLine(startup, config_name, "table file not in the driver's folder",
                        startup.config.table);
  if (!ResolvePath(startup.folder, startup.config.table, startup.table_path,
                   sizeof startup.table_path))
    return RefuseAtLine(startup, config_name, "table path too long", startup.config.table);
  const uint8_t* bytes = nullptr;
  switch (files.ReadWhole(FileReader::Slot::kTable, startup.table_path, smbios::kMaxTableFileSize,
                          bytes, size)) {
    case FileReader::Result::kMissing:
      return RefuseAtLine(startup, config_name, "no such table file", startup.table_path);
    case FileReader::Result::kTooLarge:
      return RefuseAtLine(startup, config_name,
                          smbios::DescribeTableProblem(smbios::TableProblem::kFileTooLarge),
                          startup.table_path);
    case FileReader::Result::kFailed:
      return RefuseAtLine(startup, config_name, "table file cannot be read", startup.table_path);
    case FileReader::Result::kRead:
      break;
  }
  const smbios::TableProblem problem = smbios::ReadTableFile(bytes, size, startup.image);
  if (problem != smbios::TableProblem::kNone)
    return RefuseAtLine(startup, config_name, smbios::DescribeTableProblem(problem),
                        startup.table_path);
  return true;
}

}  // namespace standin
