#include "dmi/host/sim_driver.h"

#include <cstdlib>
#include <cstring>

#include "dmi/dmi_reader_internal.h"

void SimAddressSpace::Map(std::uint32_t address, std::vector<std::uint8_t> bytes) {
  regions_[address] = std::move(bytes);
}

const std::uint8_t* SimAddressSpace::Read(std::uint32_t address, std::uint32_t length) {
  auto it = regions_.upper_bound(address);
  if (it == regions_.begin())
    return nullptr;
  --it;
  const std::uint64_t offset = std::uint64_t{address} - it->first;
  const std::vector<std::uint8_t>& bytes = it->second;
  if (offset + length > bytes.size())
    return nullptr;
  if (bytes.empty())
    return nullptr;
  return bytes.data() + offset;
}

bool SimDevice::Control(std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
                        std::uint32_t out_size) {
  Request r{code, {}, out_size};
  if (in != nullptr) {
    const auto* p = static_cast<const std::uint8_t*>(in);
    r.input.assign(p, p + in_size);
  }
  requests.push_back(std::move(r));

  if (code == codes.get_table) {
    if (fail_get || out == nullptr || out_size != descriptor.size())
      return false;
    std::memcpy(out, descriptor.data(), descriptor.size());
    return true;
  }
  if (code == codes.release_table) {
    if (fail_release || in == nullptr || in_size != descriptor.size())
      return false;
    return std::memcmp(in, descriptor.data(), descriptor.size()) == 0;
  }
  return false;
}

int SimDevice::CountRequests(std::uint32_t code) const {
  int n = 0;
  for (const Request& r : requests)
    n += r.code == code;
  return n;
}

SimAllocator::~SimAllocator() {
  for (auto& block : live_)
    std::free(block.first);
}

std::uint8_t* SimAllocator::AllocateZeroed(std::uint32_t size) {
  const int index = static_cast<int>(sizes.size());
  sizes.push_back(size);
  if (index == fail_allocation)
    return nullptr;
  auto* block = static_cast<std::uint8_t*>(std::calloc(size == 0 ? 1 : size, 1));
  if (block != nullptr)
    live_[block] = size;
  return block;
}

void SimAllocator::Free(std::uint8_t* block) {
  auto it = live_.find(block);
  if (it == live_.end()) {
    ++bad_frees_;
    return;
  }
  std::free(block);
  live_.erase(it);
}

void PlaceSimTable(const SimTable& table, SimAddressSpace& space, SimDevice& device) {
  DmiTableDescriptor d;
  const std::uint32_t offset = table.page_offset % kTablePageSize;
  const std::size_t size = table.bytes.size();
  const TablePieces pieces = SplitAtPage(offset, static_cast<std::uint32_t>(size));
  d.FirstPiece = kSimFirstPage + offset;
  if (pieces.tail_length > 0) {
    const auto middle = table.bytes.begin() + pieces.head_length;
    space.Map(d.FirstPiece, {table.bytes.begin(), middle});
    space.Map(kSimSecondPage, {middle, table.bytes.end()});
    d.SecondPiece = kSimSecondPage;
  } else if (size > 0) {
    space.Map(d.FirstPiece, table.bytes);
  }
  d.StructureCount = table.structure_count;
  d.MaxStructureSize = table.max_structure_size;
  d.TableLength = static_cast<std::uint32_t>(size);
  // Values the reader keeps but never interprets, and two bytes it never reads: distinct, so
  // that a release request that loses any of them shows.
  d.DriverValue1 = 0x000F0000u + offset;
  d.DriverValue2 = 0x5AA50001u;
  d.DriverValue3 = 0x0207;
  d.Unnamed = 0xC3D2;
  d.Encode(device.descriptor.data());
}

DmiRunResult RunReaderOnSimTable(const SimTable& table) {
  SimAddressSpace space;
  SimDevice device;
  SimAllocator memory;
  SimDebugOutput debug;
  PlaceSimTable(table, space, device);

  ResetDmiReaderState();
  DmiRunResult result;
  const DmiPlatform platform{device, space, memory, debug};
  result.status = ReadBoardIdentity(platform, device.codes, result.identity);
  result.debug = std::move(debug.lines);
  for (const SimDevice::Request& r : device.requests) {
    if (r.code == device.codes.release_table &&
        (r.input.size() != device.descriptor.size() ||
         std::memcmp(r.input.data(), device.descriptor.data(), device.descriptor.size()) != 0)) {
      result.release_matched = false;
    }
  }
  result.leaked_blocks = memory.live();
  return result;
}
