// A stand-in for the driver and the platform, in plain host memory: a simulated 32-bit address
// space, a device that answers the table requests, a counting allocator and a debug output that
// keeps its lines. dmiread, the tests, the fuzzer and the benchmarks all drive the reader
// through these.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dmi/dmi_reader.h"
#include "protocol/device_protocol.h"

// Readable regions at 32-bit addresses. A read must lie wholly inside one region.
class SimAddressSpace : public DmiAddressSpace {
 public:
  void Map(std::uint32_t address, std::vector<std::uint8_t> bytes);
  const std::uint8_t* Read(std::uint32_t address, std::uint32_t length) override;

 private:
  std::map<std::uint32_t, std::vector<std::uint8_t>> regions_;
};

// Answers the get-table request with a fixed descriptor and checks that the release request
// brings back the very bytes it handed out (a real driver could not undo its mapping otherwise).
class SimDevice : public DmiDevice {
 public:
  struct Request {
    std::uint32_t code;
    std::vector<std::uint8_t> input;
    std::uint32_t output_size;
  };

  DmiTableRequests codes = kNtTableRequests;
  std::array<std::uint8_t, kTableDescriptorSize>
      descriptor{};  // what the get-table request answers
  bool invalid_handle = false;
  bool fail_get = false;
  bool fail_release = false;
  std::vector<Request> requests;  // every request, in order

  bool IsInvalidHandle() const override { return invalid_handle; }
  bool Control(std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
               std::uint32_t out_size) override;

  int CountRequests(std::uint32_t code) const;
};

// Zero-filled blocks from the host heap. Counts what is live, can fail a chosen allocation, and
// fails the test run loudly on a free of something it never handed out.
class SimAllocator : public DmiAllocator {
 public:
  int fail_allocation = -1;          // index (from 0) of the allocation that fails, -1 for none
  std::vector<std::uint32_t> sizes;  // every requested size, in order

  ~SimAllocator() override;
  std::uint8_t* AllocateZeroed(std::uint32_t size) override;
  void Free(std::uint8_t* block) override;
  std::size_t live() const { return live_.size(); }
  int bad_frees() const { return bad_frees_; }

 private:
  std::map<std::uint8_t*, std::uint32_t> live_;
  int bad_frees_ = 0;
};

class SimDebugOutput : public DmiDebugOutput {
 public:
  std::vector<std::string> lines;
  void Write(const char* text) override { lines.emplace_back(text); }
};

// Where the simulated driver maps a table: the first piece starts at the given offset of a page,
// the rest (if the table runs past that page) on a page of its own, not adjacent, so reading
// across the boundary from the first piece finds nothing.
inline constexpr std::uint32_t kSimFirstPage = 0x00120000;
inline constexpr std::uint32_t kSimSecondPage = 0x00340000;

struct SimTable {
  std::vector<std::uint8_t> bytes;
  std::uint32_t page_offset = 0;  // 0 to 4095
  std::uint16_t structure_count = 0;
  std::uint16_t max_structure_size = 0;
};

// Maps the table into `space` and fills `device.descriptor` as the driver would report it.
void PlaceSimTable(const SimTable& table, SimAddressSpace& space, SimDevice& device);

struct DmiRunResult {
  std::uint16_t status = 0;
  BoardIdentity identity{};  // zero-filled before the call: unwritten fields read as ""
  std::vector<std::string> debug;
  bool release_matched = true;  // the release request carried the bytes get-table returned
  std::size_t leaked_blocks = 0;
};

// One whole run of the reader against the simulated driver, from a fresh reader state.
DmiRunResult RunReaderOnSimTable(const SimTable& table);
