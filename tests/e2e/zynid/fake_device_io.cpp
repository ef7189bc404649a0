// Device calls of the test build zynid_testchannel.exe: instead of a driver, a side file beside
// the program answers the channel's requests, and the table it describes is put into this
// process's memory, where the real table reader reads it through the real address-space check.
//
// Side file "zynid_testchannel.bin" (little-endian); no file means no device:
//   0  u16  probe answer
//   2  u8   failures: 1 probe, 2 get-table, 4 release-table
//   3  u8   reserved
//   4  u16  structure count
//   6  u16  head length: 0 puts the table in one piece; otherwise that many bytes end the first
//           page and the rest starts two pages on, with an inaccessible page in between
//   8  ...  the structure table
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hw/win32/device_io.h"
#include "protocol/device_protocol.h"

namespace {
constexpr std::uint8_t kProbeFails = 1;
constexpr std::uint8_t kGetTableFails = 2;
constexpr std::uint8_t kReleaseFails = 4;
constexpr DWORD kPage = 4096;

struct FakeDevice {
  bool open = false;
  bool nt = false;  // opened by the NT name: answers the NT codes only
  std::vector<std::uint8_t> side;
  std::uint8_t* mapping = nullptr;
  std::uint8_t descriptor[kTableDescriptorSize] = {};
} g_device;

std::uint16_t Word(size_t offset) {
  return ReadLe16(g_device.side.data() + offset);
}

std::string SideFilePath() {
  char path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  path[length < MAX_PATH ? length : MAX_PATH] = '\0';
  std::string result(path);
  result.erase(result.find_last_of('\\') + 1);
  return result + "zynid_testchannel.bin";
}

bool ReadSideFile(HANDLE file) {
  DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE || size < 8)
    return false;
  g_device.side.resize(size);
  DWORD got = 0;
  return ReadFile(file, g_device.side.data(), size, &got, nullptr) && got == size;
}

bool GetTable(void* out, DWORD out_size) {
  if (out_size != kTableDescriptorSize)
    return false;
  const std::uint32_t length = static_cast<std::uint32_t>(g_device.side.size() - 8);
  const std::uint8_t* table = g_device.side.data() + 8;
  const DWORD head = Word(6);
  const DWORD pages = head == 0 ? (length + kPage - 1) / kPage + 1 : 2 + (length + kPage) / kPage;
  g_device.mapping = static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, pages * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (g_device.mapping == nullptr)
    return false;
  DmiTableDescriptor d;
  if (head == 0 || head >= length) {
    d.FirstPiece = reinterpret_cast<std::uintptr_t>(g_device.mapping);
    std::memcpy(g_device.mapping, table, length);
  } else {
    std::uint8_t* first_piece = g_device.mapping + kPage - head;
    std::uint8_t* second_piece = g_device.mapping + 2 * kPage;
    std::memcpy(first_piece, table, head);
    std::memcpy(second_piece, table + head, length - head);
    DWORD old;
    VirtualProtect(g_device.mapping + kPage, kPage, PAGE_NOACCESS, &old);
    d.FirstPiece = reinterpret_cast<std::uintptr_t>(first_piece);
    d.SecondPiece = reinterpret_cast<std::uintptr_t>(second_piece);
  }
  d.StructureCount = Word(4);
  d.MaxStructureSize = 0x200;
  d.DriverValue1 = 0x11223344;
  d.TableLength = length;
  d.DriverValue2 = 0x55667788;
  d.DriverValue3 = 0x99AA;
  d.Unnamed = 0xBBCC;
  d.Encode(g_device.descriptor);
  std::memcpy(out, g_device.descriptor, kTableDescriptorSize);
  return true;
}

// The release must carry back the very descriptor the get-table request handed out.
bool ReleaseTable(const void* in, DWORD in_size) {
  if (in_size != kTableDescriptorSize || g_device.mapping == nullptr ||
      std::memcmp(in, g_device.descriptor, kTableDescriptorSize) != 0) {
    return false;
  }
  VirtualFree(g_device.mapping, 0, MEM_RELEASE);
  g_device.mapping = nullptr;
  return true;
}
}  // namespace

HANDLE OpenDeviceFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  const bool nt = std::strcmp(path, kNtDevicePath) == 0;
  if (!nt && std::strcmp(path, kVxdDevicePath) != 0) {
    return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
  }
  // The returned handle is the side file itself, so that closing the channel is a real close.
  HANDLE file = CreateFileA(SideFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return file;
  if (!ReadSideFile(file)) {
    CloseHandle(file);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  g_device.open = true;
  g_device.nt = nt;
  return file;
}

bool SendDeviceRequest(HANDLE device, DWORD code, void* in, DWORD in_size, void* out,
                       DWORD out_size) {
  if (!g_device.open || device == INVALID_HANDLE_VALUE || device == nullptr)
    return false;
  const std::uint8_t failures = g_device.side[2];
  const DWORD probe = g_device.nt ? kNtProbeRequest : kVxdProbeRequest;
  const DWORD get = g_device.nt ? kNtGetTableRequest : kVxdGetTableRequest;
  const DWORD release = g_device.nt ? kNtReleaseTableRequest : kVxdReleaseTableRequest;
  if (code == probe) {
    if ((failures & kProbeFails) || in == nullptr || in_size != kProbeWordSize || out == nullptr ||
        out_size != kProbeWordSize) {
      return false;
    }
    WriteLe16(static_cast<std::uint8_t*>(out), Word(0));
    return true;
  }
  if (code == get)
    return !(failures & kGetTableFails) && in_size == 0 && GetTable(out, out_size);
  if (code == release)
    return !(failures & kReleaseFails) && out_size == 0 && ReleaseTable(in, in_size);
  SetLastError(ERROR_INVALID_FUNCTION);
  return false;
}
