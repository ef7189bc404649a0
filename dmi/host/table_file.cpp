#include "table_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = path + (errno == ENOENT ? ": no such file"
                                    : ": cannot open: " + std::string(std::strerror(errno)));
    return false;
  }
  bytes.clear();
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  const bool failed = std::ferror(f) != 0;
  const int read_errno = errno;
  std::fclose(f);
  if (failed) {
    error = path + ": cannot read: " + std::strerror(read_errno);
    return false;
  }
  return true;
}

std::string Dirname(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Basename(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool LoadTableFile(const std::string& path, TableFile& file, std::string& error) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, error))
    return false;
  // The kernel exports the bare table as DMI and its entry point beside it.
  std::vector<std::uint8_t> entry_point;
  std::string ignored;
  if (Basename(path) == "DMI")
    ReadWholeFile(Dirname(path) + "/smbios_entry_point", entry_point, ignored);
  smbios::TableImage image;
  const smbios::TableProblem problem = smbios::ReadKernelTable(
      bytes.data(), bytes.size(), entry_point.data(), entry_point.size(), image);
  if (problem != smbios::TableProblem::kNone) {
    error = path + ": " + smbios::DescribeTableProblem(problem);
    return false;
  }
  file.table.assign(image.bytes, image.bytes + image.length);
  file.structure_count = image.structure_count;
  file.max_structure_size = image.max_structure_size;
  file.not_a_dump = image.not_a_dump;
  return true;
}
