// Byte fixtures for the reader's tests: structures written out by hand, and a reader run against
// the simulated driver.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <initializer_list>
#include <string>
#include <vector>

#include "dmi/dmi_reader_internal.h"
#include "dmi/host/sim_driver.h"

using Bytes = std::vector<std::uint8_t>;

// Type, formatted length (4 + fields), handle, the fields from offset 4, then `set` as written
// (give its NULs: "ABC\0XY\0\0"s).
inline Bytes Structure(std::uint8_t type, std::uint16_t handle, const Bytes& fields,
                       const std::string& set) {
  Bytes b = {type, static_cast<std::uint8_t>(4 + fields.size()), static_cast<std::uint8_t>(handle),
             static_cast<std::uint8_t>(handle >> 8)};
  b.insert(b.end(), fields.begin(), fields.end());
  b.insert(b.end(), set.begin(), set.end());
  return b;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A base board structure: manufacturer and product string numbers, then the set.
inline Bytes BaseBoard(std::uint16_t handle, std::uint8_t manufacturer, std::uint8_t product,
                       const std::string& set) {
  return Structure(2, handle, {manufacturer, product, 0, 0}, set);
}

inline Bytes EndOfTable(std::uint16_t handle) {
  return Structure(127, handle, {}, std::string(2, '\0'));
}

// One reader call against the simulated driver, with the platform kept for inspection.
struct ReaderRun {
  SimAddressSpace space;
  SimDevice device;
  SimAllocator memory;
  SimDebugOutput debug;
  BoardIdentity identity;

  ReaderRun() {
    ResetDmiReaderState();
    std::fill(std::begin(identity.product), std::end(identity.product), '\xEE');
    std::fill(std::begin(identity.manufacturer), std::end(identity.manufacturer), '\xEE');
  }
  ~ReaderRun() { ResetDmiReaderState(); }

  void Place(const Bytes& table, std::uint16_t count, std::uint32_t page_offset = 0,
             std::uint16_t max_size = 0) {
    SimTable t;
    t.bytes = table;
    t.structure_count = count;
    t.page_offset = page_offset;
    t.max_structure_size = max_size;
    PlaceSimTable(t, space, device);
  }
  std::uint16_t Read(const DmiTableRequests& codes = kNtTableRequests) {
    device.codes = codes;
    return ReadBoardIdentity(DmiPlatform{device, space, memory, debug}, codes, identity);
  }
  DmiTableDescriptor Descriptor() const {
    return DmiTableDescriptor::Decode(device.descriptor.data());
  }
  void SetDescriptor(const DmiTableDescriptor& d) { d.Encode(device.descriptor.data()); }
  std::string Product() const { return {identity.product, strnlen(identity.product, 128)}; }
  std::string Manufacturer() const {
    return {identity.manufacturer, strnlen(identity.manufacturer, 128)};
  }
};
