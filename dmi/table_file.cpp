#include "table_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::uint32_t Le(const std::uint8_t* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = (v << 8) | p[i];
  return v;
}

bool StartsWith(const std::vector<std::uint8_t>& bytes, const char* anchor) {
  const std::size_t n = std::strlen(anchor);
  return bytes.size() >= n && std::memcmp(bytes.data(), anchor, n) == 0;
}

struct EntryPoint {
  std::uint64_t table_address = 0;
  std::uint32_t table_length = 0;
  bool length_is_maximum = false;  // 64-bit entry points give an upper bound only
  std::optional<std::uint16_t> structure_count;
  std::uint16_t max_structure_size = 0;
};

enum class EntryPointKind { kNone, kParsed, kTruncated };

// The three entry point forms. 64-bit SMBIOS entry points carry no structure count.
EntryPointKind ParseEntryPoint(const std::vector<std::uint8_t>& b, EntryPoint& ep) {
  if (StartsWith(b, "_SM3_")) {
    if (b.size() < 0x18)
      return EntryPointKind::kTruncated;
    ep.table_length = Le(&b[0x0C], 4);
    ep.length_is_maximum = true;
    ep.table_address = Le(&b[0x10], 4) | (std::uint64_t{Le(&b[0x14], 4)} << 32);
    return EntryPointKind::kParsed;
  }
  if (StartsWith(b, "_SM_")) {
    if (b.size() < 0x1E)
      return EntryPointKind::kTruncated;
    ep.max_structure_size = static_cast<std::uint16_t>(Le(&b[0x08], 2));
    ep.table_length = Le(&b[0x16], 2);
    ep.table_address = Le(&b[0x18], 4);
    ep.structure_count = static_cast<std::uint16_t>(Le(&b[0x1C], 2));
    return EntryPointKind::kParsed;
  }
  if (StartsWith(b, "_DMI_")) {
    if (b.size() < 0x0E)
      return EntryPointKind::kTruncated;
    ep.table_length = Le(&b[0x06], 2);
    ep.table_address = Le(&b[0x08], 4);
    ep.structure_count = static_cast<std::uint16_t>(Le(&b[0x0C], 2));
    return EntryPointKind::kParsed;
  }
  return EntryPointKind::kNone;
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
  EntryPoint ep;
  switch (ParseEntryPoint(bytes, ep)) {
    case EntryPointKind::kTruncated:
      error = "not a table: the entry point is cut short";
      return false;
    case EntryPointKind::kNone:
      if (bytes.size() > kMaxTableLength) {
        error = "table over 65535 bytes";
        return false;
      }
      image.table = bytes;
      image.structure_count.reset();
      image.max_structure_size = 0;
      return true;
    case EntryPointKind::kParsed:
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
    EntryPoint ep;
    if (ReadWholeFile(Dirname(path) + "/smbios_entry_point", ep_bytes, ignored) &&
        ParseEntryPoint(ep_bytes, ep) == EntryPointKind::kParsed) {
      image.structure_count = ep.structure_count;
      image.max_structure_size = ep.max_structure_size;
    }
  }
  return true;
}

std::uint16_t CountStructures(const std::uint8_t* table, std::size_t length) {
  std::size_t count = 0;
  std::size_t pos = 0;
  while (length - pos >= 4 && count < 0xFFFF) {
    const std::uint8_t type = table[pos];
    const std::uint8_t formatted = table[pos + 1];
    if (formatted < 4)
      break;
    ++count;
    if (type == 127)
      break;
    // The string set ends at the first double NUL after the formatted area.
    std::size_t i = pos + formatted;
    while (i + 1 < length && (table[i] != 0 || table[i + 1] != 0))
      ++i;
    if (i + 1 >= length)
      break;
    pos = i + 2;
  }
  return static_cast<std::uint16_t>(count);
}
