// Fuzz target for the reader: the driver's answer, the table bytes and where the table sits in
// its page all come from the input.
//
// Input: bytes 0-1 page offset (little-endian, taken modulo 4096), byte 2 flags, bytes 3-30 the
// 28-byte descriptor, the rest the table.
// Flags: 0x01 count structures instead of the descriptor's StructureCount; 0x02 take FirstPiece,
// SecondPiece and TableLength from the input too (a driver reporting nonsense); 0x04 get-table
// fails; 0x08 release fails; 0x10 an allocation fails; 0x20 invalid handle; 0x40 a second call
// in the same process; 0x80 the 9x request codes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dmi/dmi_reader_internal.h"
#include "dmi/host/sim_driver.h"
#include "smbios/smbios_dump.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

struct Outcome {
  std::uint16_t status;
  BoardIdentity identity;
  std::vector<std::string> debug;
};

// A field is either untouched or holds a NUL-terminated text.
void CheckField(const char (&field)[128]) {
  bool untouched = true;
  for (char c : field)
    untouched = untouched && c == '\xEE';
  Check(untouched || std::memchr(field, 0, sizeof(field)) != nullptr, "field without NUL");
}

// The text a field holds; "" when the reader did not write it (still all 0xEE, or zero-filled).
std::string Text(const char (&field)[128]) {
  bool untouched = true;
  for (char c : field)
    untouched = untouched && c == '\xEE';
  return untouched ? std::string() : std::string(field, strnlen(field, sizeof(field)));
}

Outcome RunOnce(SimAddressSpace& space, SimDevice& device, SimAllocator& memory) {
  SimDebugOutput debug;
  Outcome o;
  std::memset(&o.identity, 0xEE, sizeof(o.identity));
  o.status = ReadBoardIdentity(DmiPlatform{device, space, memory, debug}, device.codes, o.identity);
  o.debug = debug.lines;
  Check(o.status == 0 || o.status == 1 || o.status == 2 || o.status == 3 || o.status == 0xFFFF,
        "unknown status");
  Check(memory.live() == 0 && memory.bad_frees() == 0, "memory not given back exactly");
  Check(o.debug.size() <= 1, "more than one fault line in one call");
  for (const std::string& line : o.debug) {
    Check(line == kDmiBugcheckStructure || line == kDmiBugcheckStrings, "unknown debug line");
  }
  CheckField(o.identity.product);
  CheckField(o.identity.manufacturer);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 31)
    return 0;
  const std::uint32_t page_offset = (data[0] | (data[1] << 8)) % 4096;
  const std::uint8_t flags = data[2];
  const DmiTableDescriptor fuzzed = DmiTableDescriptor::Decode(data + 3);
  const std::vector<std::uint8_t> bytes(data + 31, data + size);
  if (bytes.size() > kMaxTableLength)
    return 0;

  // The loader sees the same bytes as a file would.
  smbios::TableImage image;
  smbios::ReadTableFile(bytes.data(), bytes.size(), image);
  const std::uint16_t counted = smbios::CountStructures(bytes.data(), bytes.size());

  SimTable table;
  table.bytes = bytes;
  table.page_offset = page_offset;
  table.structure_count = (flags & 0x01) ? counted : fuzzed.StructureCount;
  table.max_structure_size = fuzzed.MaxStructureSize;

  SimAddressSpace space;
  SimDevice device;
  SimAllocator memory;
  PlaceSimTable(table, space, device);
  DmiTableDescriptor d = DmiTableDescriptor::Decode(device.descriptor.data());
  d.DriverValue1 = fuzzed.DriverValue1;
  d.DriverValue2 = fuzzed.DriverValue2;
  d.DriverValue3 = fuzzed.DriverValue3;
  d.Unnamed = fuzzed.Unnamed;
  if (flags & 0x02) {
    d.FirstPiece = fuzzed.FirstPiece;
    d.SecondPiece = fuzzed.SecondPiece;
    d.TableLength = fuzzed.TableLength;
  }
  d.Encode(device.descriptor.data());
  device.fail_get = flags & 0x04;
  device.fail_release = flags & 0x08;
  if (flags & 0x10)
    memory.fail_allocation = fuzzed.Unnamed & 1;
  device.invalid_handle = flags & 0x20;
  if (flags & 0x80)
    device.codes = kVxdTableRequests;

  ResetDmiReaderState();
  const Outcome first = RunOnce(space, device, memory);
  if (flags & 0x40)
    RunOnce(space, device, memory);

  // A sane driver: the table reads the same wherever in its page it lies.
  if ((flags & 0x7E) == 0) {
    Check(first.status == (bytes.empty() ? 3 : 0), "sane driver but not status 0 or 3");
    SimTable at_zero = table;
    at_zero.page_offset = 0;
    const DmiRunResult base = RunReaderOnSimTable(at_zero);
    Check(base.release_matched && base.leaked_blocks == 0, "release or memory at offset 0");
    Check(Text(first.identity.product) == Text(base.identity.product) &&
              Text(first.identity.manufacturer) == Text(base.identity.manufacturer) &&
              first.debug == base.debug && first.status == base.status,
          "result depends on the page offset");
  }
  ResetDmiReaderState();
  return 0;
}
