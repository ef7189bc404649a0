#include "dmi/host/table_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/owner.h"

namespace {

struct FileDescriptor {
  using Handle = int;
  static int Empty() { return -1; }
  static bool Holds(int fd) { return fd >= 0; }
  void Release(int fd) const { close(fd); }
};

std::string CannotOpen(const std::string& path) {
  return path + (errno == ENOENT ? ": no such file"
                                 : ": cannot open: " + std::string(std::strerror(errno)));
}

// Reads a regular file of at most `limit` bytes, and one byte more when it has more, so that the
// caller can tell it is too long: a device, a FIFO or a huge file never holds the reader up.
bool ReadBoundedFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes,
                     std::string& error) {
  // Opening is not harmless: it releases a writer blocked on a FIFO, arms a watchdog and can make
  // a tty the controlling terminal. So the path is looked at first, and only a regular file is
  // opened.
  struct stat looked;
  if (stat(path.c_str(), &looked) != 0) {
    error = CannotOpen(path);
    return false;
  }
  if (!S_ISREG(looked.st_mode)) {
    error = path + ": not a regular file";
    return false;
  }
  // The path may be swapped between the look and the open: O_NONBLOCK and O_NOCTTY keep the open
  // itself from waiting or taking a terminal, and the opened file must be the one looked at.
  zynrt::Owner<FileDescriptor> fd(open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.holds()) {
    error = CannotOpen(path);
    return false;
  }
  struct stat opened;
  if (fstat(fd.get(), &opened) != 0) {
    error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(opened.st_mode) || opened.st_dev != looked.st_dev ||
      opened.st_ino != looked.st_ino) {
    error = path + ": replaced while it was being opened";
    return false;
  }
  bytes.clear();
  std::uint8_t buffer[65536];
  while (bytes.size() <= limit) {
    const std::size_t room = limit + 1 - bytes.size();
    const ssize_t n = read(fd.get(), buffer, room < sizeof(buffer) ? room : sizeof(buffer));
    if (n == 0)
      break;
    if (n < 0) {
      if (errno == EINTR)
        continue;
      error = path + ": cannot read: " + std::strerror(errno);
      return false;
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
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
  if (!ReadBoundedFile(path, smbios::kMaxTableFileSize, bytes, error))
    return false;
  // The kernel exports the bare table as DMI and its entry point beside it.
  std::vector<std::uint8_t> entry_point;
  std::string ignored;
  if (Basename(path) == "DMI")
    ReadBoundedFile(Dirname(path) + "/smbios_entry_point", 0x20, entry_point, ignored);
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
  return true;
}
