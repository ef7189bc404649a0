// The SMBIOS table reader: asks the driver for the firmware's structure table, walks it to the
// first base board structure and copies its manufacturer and product name out.
//
// Portable C++: the platform reaches the reader only through the small interfaces below, so the
// shipped program, the command-line tool and the tests all run the same code.
#pragma once

#include <cstddef>
#include <cstdint>

// Caller-owned result: two NUL-terminated 8-bit texts of 128 bytes each.
struct BoardIdentity {
  char product[128];       // bytes 0-127
  char manufacturer[128];  // bytes 128-255
};
static_assert(sizeof(BoardIdentity) == 256, "BoardIdentity is a 256-byte buffer");

// Statuses of ReadBoardIdentity.
inline constexpr std::uint16_t kDmiStatusOk = 0;
inline constexpr std::uint16_t kDmiStatusGetTableFailed = 1;
inline constexpr std::uint16_t kDmiStatusReleaseFailed = 2;
inline constexpr std::uint16_t kDmiStatusEmptyTable = 3;
inline constexpr std::uint16_t kDmiStatusNoTable = 0xFF;
inline constexpr std::uint16_t kDmiStatusChannelInvalid = 0xFFFF;

// The open driver: one synchronous control request, true on success.
class DmiDevice {
 public:
  virtual ~DmiDevice() = default;
  // True when the channel holds the invalid handle (a failed open).
  virtual bool IsInvalidHandle() const = 0;
  virtual bool Control(std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
                       std::uint32_t out_size) = 0;
};

// The program's 32-bit address space as the driver sees it: the bytes at [address,
// address + length), or null when any part of that extent cannot be read.
class DmiAddressSpace {
 public:
  virtual ~DmiAddressSpace() = default;
  virtual const std::uint8_t* Read(std::uint32_t address, std::uint32_t length) = 0;
};

// Zero-filled blocks from the platform's allocator; null when the allocation fails.
class DmiAllocator {
 public:
  virtual ~DmiAllocator() = default;
  virtual std::uint8_t* AllocateZeroed(std::uint32_t size) = 0;
  virtual void Free(std::uint8_t* block) = 0;
};

// The debugger output channel (one line per call, text as given).
class DmiDebugOutput {
 public:
  virtual ~DmiDebugOutput() = default;
  virtual void Write(const char* text) = 0;
};

struct DmiPlatform {
  DmiDevice& device;
  DmiAddressSpace& addresses;
  DmiAllocator& memory;
  DmiDebugOutput& debug;
};

// The two table requests; the families differ only in their codes.
struct DmiTableRequests {
  std::uint32_t get_table;
  std::uint32_t release_table;
};
extern const DmiTableRequests kNtTableRequests;
extern const DmiTableRequests kVxdTableRequests;

// Reads the board identity through the given platform. Returns one of the statuses above.
// Not reentrant: the reader keeps module-level state between the get-table and release-table
// requests of one call.
std::uint16_t ReadBoardIdentity(const DmiPlatform& platform, const DmiTableRequests& requests,
                                BoardIdentity& identity);

// The shared empty text: clears a BoardIdentity field and stands for a missing string.
extern const char kDmiEmptyText[];

// Puts the reader's module-level state back to its program-start values (all zero).
// Tests and the fuzzer use it; the program itself runs the reader once per process.
void ResetDmiReaderState();
