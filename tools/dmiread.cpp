// dmiread: runs the board-identity reader over a saved SMBIOS table, playing the driver in a
// simulated 32-bit address space, and prints what the reader found.
//
//   dmiread [--json] [--page-offset N] [--count N] [FILE]
//
// Without FILE it reads this machine's own table, as the kernel exports it.
// Exit status: 0 for reader status 0 or 3, 1 for any other status, 2 for usage or file errors.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "dmi/host/sim_driver.h"
#include "dmi/host/table_file.h"

namespace {

constexpr char kUsage[] =
    "usage: dmiread [--json] [--page-offset N] [--count N] [FILE]\n"
    "  FILE: a raw structure table or a `dmidecode --dump-bin` file;\n"
    "        without it, this machine's own table (/sys/firmware/dmi/tables/DMI)\n";

// Where the kernel exports the firmware's table and its entry point. Tests point
// DMIREAD_TABLES_DIR elsewhere to see the messages for a missing or unreadable table.
constexpr char kKernelTablesDir[] = "/sys/firmware/dmi/tables";

struct Options {
  bool json = false;
  long page_offset = 0;
  long count = -1;  // -1: from the entry point, else counted
  const char* path = nullptr;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "dmiread: %s\n%s", message.c_str(), kUsage);
  return 2;
}

bool ParseNumber(const char* text, long max, long& value) {
  if (text == nullptr || *text == '\0')
    return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 0);
  if (errno != 0 || *end != '\0' || v < 0 || v > max)
    return false;
  value = v;
  return true;
}

// Returns -1 when the arguments are fine, else the exit status after the message.
int ParseArguments(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      o.json = true;
    } else if (arg == "--page-offset") {
      if (!ParseNumber(i + 1 < argc ? argv[++i] : nullptr, 4095, o.page_offset))
        return UsageError("--page-offset takes a number from 0 to 4095");
    } else if (arg == "--count") {
      if (!ParseNumber(i + 1 < argc ? argv[++i] : nullptr, 65535, o.count))
        return UsageError("--count takes a number from 0 to 65535");
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else if (o.path != nullptr) {
      return UsageError("one FILE only");
    } else {
      o.path = argv[i];
    }
  }
  return -1;
}

// The kernel's copy of the table is readable by root only, and absent on machines without
// SMBIOS (or without sysfs). Either case gets one line that says what to do, rather than a bare
// errno text about a path the user never typed. Asked without opening the file: that is left to
// LoadTableFile, which looks at what the path names first.
bool CheckMachineTable(const std::string& path) {
  if (access(path.c_str(), R_OK) == 0)
    return true;
  const int error = errno;
  if (error == EACCES || error == EPERM) {
    std::fprintf(stderr, "dmiread: reading this machine's table (%s) needs root; try sudo\n",
                 path.c_str());
  } else if (error == ENOENT || error == ENOTDIR) {
    std::fprintf(stderr,
                 "dmiread: this machine exposes no SMBIOS table (%s is absent); give a FILE\n",
                 path.c_str());
  } else {
    std::fprintf(stderr, "dmiread: cannot open this machine's table (%s): %s\n", path.c_str(),
                 std::strerror(error));
  }
  return false;
}

std::string Field(const char (&field)[128]) {
  return std::string(field, strnlen(field, 128));
}

// Each byte becomes the code point of the same value, U+0000 to U+00FF: the controls (C0, DEL and
// C1, where 0x9B is a terminal's CSI) as \u00XX escapes, the others written as UTF-8.
std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
          char buf[8];
          std::snprintf(buf, sizeof(buf), "\\u%04x", c);
          out += buf;
        } else if (c < 0x80) {
          out += static_cast<char>(c);
        } else {
          out += static_cast<char>(0xC0 | (c >> 6));
          out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
  }
  return out + "\"";
}

void PrintJson(const DmiRunResult& r) {
  std::string line = "{\"status\":" + std::to_string(r.status) +
                     ",\"manufacturer\":" + JsonString(Field(r.identity.manufacturer)) +
                     ",\"product\":" + JsonString(Field(r.identity.product)) + ",\"debug\":[";
  for (std::size_t i = 0; i < r.debug.size(); ++i) {
    if (i != 0)
      line += ",";
    line += JsonString(r.debug[i]);
  }
  line += "]}\n";
  std::fputs(line.c_str(), stdout);
}

// A table's strings go to a terminal: every byte outside printable ASCII, and the backslash,
// becomes an escape (\xHH, \\), so no table can send the terminal control sequences.
std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}

void PrintText(const DmiRunResult& r) {
  std::printf("status: %u\n", static_cast<unsigned>(r.status));
  std::printf("manufacturer: %s\n", Printable(Field(r.identity.manufacturer)).c_str());
  std::printf("product: %s\n", Printable(Field(r.identity.product)).c_str());
  for (const std::string& line : r.debug) {
    std::printf("debug: %s%s", line.c_str(), line.empty() || line.back() != '\n' ? "\n" : "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const int early = ParseArguments(argc, argv, o);
  if (early >= 0)
    return early;

  std::string path;
  if (o.path != nullptr) {
    path = o.path;
  } else {
    const char* dir = std::getenv("DMIREAD_TABLES_DIR");
    path = std::string(dir != nullptr && *dir != '\0' ? dir : kKernelTablesDir) + "/DMI";
    if (!CheckMachineTable(path))
      return 2;
  }

  TableFile file;
  std::string error;
  if (!LoadTableFile(path, file, error)) {
    std::fprintf(stderr, "dmiread: %s\n", error.c_str());
    return 2;
  }
  SimTable table;
  table.page_offset = static_cast<std::uint32_t>(o.page_offset);
  table.structure_count = o.count >= 0 ? static_cast<std::uint16_t>(o.count) : file.structure_count;
  table.max_structure_size = file.max_structure_size;
  table.bytes = std::move(file.table);

  const DmiRunResult result = RunReaderOnSimTable(table);
  if (o.json) {
    PrintJson(result);
  } else {
    PrintText(result);
  }
  return result.status == kDmiStatusOk || result.status == kDmiStatusEmptyTable ? 0 : 1;
}
