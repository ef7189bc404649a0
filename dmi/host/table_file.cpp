#include "table_file.h"

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

// Reads a regular file of at most `limit` bytes, and one byte more when it has more, so that the
// caller can tell it is too long: a device, a FIFO or a huge file never holds the reader up.
bool ReadBoundedFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes,
                     std::string& error) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer.
  zynrt::Owner<FileDescriptor> fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.holds()) {
    error = path + (errno == ENOENT ? ": no such file"
                                    : ": cannot open: " + std::string(std::strerror(errno)));
    return false;
  }
  struct stat info;
  if (fstat(fd.get(), &info) != 0) {
    error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = path + ": not a regular file";
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
  file.not_a_dump = image.not_a_dump;
  return true;
}
