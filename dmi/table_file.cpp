#include "table_file.h"

#include "smbios_layout.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The three entry point forms (dmi/smbios_layout.h) over a whole file's bytes.
smbios::EntryPointKind ParseEntryPoint(const std::vector<std::uint8_t>& b, smbios::EntryPoint& ep) {
  return smbios::ParseEntryPoint(b.data(), b.size(), ep);
}

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

bool ParseTableImage(const std::vector<std::uint8_t>& bytes, TableImage& image,
                     std::string& error) {
  smbios::EntryPoint ep;
  switch (ParseEntryPoint(bytes, ep)) {
    case smbios::EntryPointKind::kTruncated:
      error = "not a table: the entry point is cut short";
      return false;
    case smbios::EntryPointKind::kNone:
      if (bytes.size() > kMaxTableLength) {
        error = "table over 65535 bytes";
        return false;
      }
      image.table = bytes;
      image.structure_count.reset();
      image.max_structure_size = 0;
      return true;
    case smbios::EntryPointKind::kParsed:
      break;
  }
  if (ep.table_address > bytes.size() ||
      (ep.table_address == bytes.size() && ep.table_length > 0)) {
    error = "the entry point points outside the file";
    return false;
  }
  const std::uint64_t available = bytes.size() - ep.table_address;
  if (ep.length_is_maximum && ep.table_length > available) {
    ep.table_length = static_cast<std::uint32_t>(available);
  }
  if (ep.table_length > kMaxTableLength) {
    error = "table over 65535 bytes";
    return false;
  }
  if (available < ep.table_length) {
    error = "the entry point points outside the file";
    return false;
  }
  const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(ep.table_address);
  image.table.assign(begin, begin + ep.table_length);
  image.structure_count.reset();
  if (ep.has_structure_count)
    image.structure_count = ep.structure_count;
  image.max_structure_size = ep.max_structure_size;
  return true;
}

bool LoadTableFile(const std::string& path, TableImage& image, std::string& error) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, error))
    return false;
  if (!ParseTableImage(bytes, image, error)) {
    error = path + ": " + error;
    return false;
  }
  // The kernel exports the bare table as DMI and its entry point beside it.
  if (Basename(path) == "DMI" && !image.structure_count) {
    std::vector<std::uint8_t> ep_bytes;
    std::string ignored;
    smbios::EntryPoint ep;
    if (ReadWholeFile(Dirname(path) + "/smbios_entry_point", ep_bytes, ignored) &&
        ParseEntryPoint(ep_bytes, ep) == smbios::EntryPointKind::kParsed) {
      image.structure_count.reset();
      if (ep.has_structure_count)
        image.structure_count = ep.structure_count;
      image.max_structure_size = ep.max_structure_size;
    }
  }
  return true;
}

std::uint16_t CountStructures(const std::uint8_t* table, std::size_t length) {
  return smbios::CountStructures(table, length);
}
