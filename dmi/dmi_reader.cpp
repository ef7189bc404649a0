// The SMBIOS table reader. One call of ReadBoardIdentity gets the table from the driver, walks
// it to the first base board structure, copies that board's manufacturer and product name out
// and hands the table back.
//
// The structure ends are worked out by this reader's own per-type rules, not by scanning for
// the double NUL; on tables written after those rules were, the walk usually stops early. That
// is long-standing behaviour and kept as it is.
//
// Where the shipped program once relied on the platform catching a bad memory access, the reader
// checks bounds instead: every table read stays inside the table, every scratch read and write
// inside the scratch buffer, and what would have faulted ends the same way a caught fault did.

#include "dmi/dmi_reader_internal.h"

#include <cstring>

#include "protocol/device_protocol.h"

const DmiTableRequests kNtTableRequests = {kNtGetTableRequest, kNtReleaseTableRequest};
const DmiTableRequests kVxdTableRequests = {kVxdGetTableRequest, kVxdReleaseTableRequest};

const char kDmiEmptyText[] = "";

DmiReaderVariables DmiReaderState;

void ResetDmiReaderState() {
  DmiReaderState = DmiReaderVariables{};
}

const std::uint8_t* DmiEndMarker() {
  return reinterpret_cast<const std::uint8_t*>(~std::uintptr_t{0});
}

namespace {

std::uintptr_t Addr(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p);
}

void WriteDebug(const char* line) {
  if (DmiReaderState.debug != nullptr)
    DmiReaderState.debug->Write(line);
}

// Bytes [0, size) of one structure, read only through At().
class BoundedBytes {
 public:
  BoundedBytes(const std::uint8_t* base, const std::uint8_t* limit)
      : base_(base), size_(Addr(limit) > Addr(base) ? Addr(limit) - Addr(base) : 0) {}
  bool At(std::size_t offset, std::uint8_t& value) const {
    if (offset >= size_)
      return false;
    value = base_[offset];
    return true;
  }
  std::size_t size() const { return size_; }
  const std::uint8_t* base() const { return base_; }

 private:
  const std::uint8_t* base_;
  std::size_t size_;
};

enum class EndRule { kListedFields, kCountedStrings, kNoStrings, kTrailingBlock, kNone };

struct RuleChoice {
  EndRule rule;
  std::uint8_t offsets[4];
  int offset_count;
};

RuleChoice ChooseEndRule(std::uint8_t type) {
  switch (type) {
    case 0:
      return {EndRule::kListedFields, {4, 5, 8}, 3};
    case 1:
    case 2:
      return {EndRule::kListedFields, {4, 5, 6, 7}, 4};
    case 3:
      return {EndRule::kListedFields, {4, 6, 7, 8}, 4};
    case 4:
      return {EndRule::kListedFields, {4, 7, 16}, 3};
    case 6:
    case 7:
    case 9:
    case 14:
      return {EndRule::kListedFields, {4}, 1};
    case 8:
    case 17:  // measured with the type 8 fields, as it always was
      return {EndRule::kListedFields, {4, 6}, 2};
    case 10:  // fields worked out from the length
      return {EndRule::kListedFields, {}, 0};
    case 11:
    case 12:
    case 13:
      return {EndRule::kCountedStrings, {}, 0};
    case 5:
    case 15:
    case 16:
    case 19:
    case 20:
      return {EndRule::kNoStrings, {}, 0};
    case 128:
      return {EndRule::kTrailingBlock, {}, 0};
    default:
      return {EndRule::kNone, {}, 0};
  }
}

// Adds the length of string n of the structure's set, and its NUL, to end. False when finding
// the string would read past the table.
bool AddStringLength(const BoundedBytes& s, std::uint8_t length, std::uint8_t n, std::size_t& end) {
  if (length > s.size())
    return false;
  bool out_of_bounds = false;
  const std::uint8_t* text =
      FindDMIString(s.base() + length, n, s.base() + s.size(), &out_of_bounds);
  if (out_of_bounds)
    return false;
  end += GetDMIStringLength(text) + 1u;
  return true;
}

// Passes up to `max_nuls` NUL bytes at end. False when a byte to look at lies past the table.
bool PassNuls(const BoundedBytes& s, std::size_t& end, int max_nuls) {
  for (int i = 0; i < max_nuls; ++i) {
    std::uint8_t b;
    if (!s.At(end, b))
      return false;
    if (b != 0)
      break;
    ++end;
  }
  return true;
}

}  // namespace

std::uint16_t GetDMITableInfo(std::uint16_t& count, std::uint16_t& max_size, std::uint32_t& value1,
                              std::uint16_t& length) {
  if (DmiReaderState.table == nullptr)
    return kDmiStatusNoTable;
  count = DmiReaderState.structure_count;
  max_size = DmiReaderState.max_structure_size;
  value1 = DmiReaderState.driver_value1;
  length = DmiReaderState.table_length;
  return 0;
}

const std::uint8_t* FindDMIString(const std::uint8_t* set, std::uint8_t n,
                                  const std::uint8_t* limit, bool* out_of_bounds) {
  if (n == 0)
    return nullptr;
  const BoundedBytes bytes(set, limit);
  std::size_t p = 0;
  const std::uint8_t* result = nullptr;
  for (unsigned k = 0; k < n;) {
    // The string at p ends at the first NUL at or after p.
    const void* nul = p < bytes.size() ? std::memchr(set + p, 0, bytes.size() - p) : nullptr;
    std::uint8_t after;
    if (nul == nullptr ||
        !bytes.At(static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - set) + 1,
                  after)) {
      if (out_of_bounds != nullptr)
        *out_of_bounds = true;
      return nullptr;
    }
    const std::size_t q = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - set);
    const std::size_t next = after != 0 ? q + 1 : q;
    if (next == p)
      return result;  // two NULs: the set has ended
    const std::size_t start = p;
    p = next;
    ++k;
    if (k == n)
      result = set + start;
  }
  return result;
}

std::uint8_t GetDMIStringLength(const std::uint8_t* text) {
  if (text == nullptr)
    return 0;
  return static_cast<std::uint8_t>(std::strlen(reinterpret_cast<const char*>(text)));
}

const std::uint8_t* FindDMIStructureEnd(const std::uint8_t* structure, const std::uint8_t* limit) {
  const BoundedBytes s(structure, limit);
  std::uint8_t type, length;
  if (!s.At(0, type) || !s.At(1, length))
    return nullptr;
  const RuleChoice choice = ChooseEndRule(type);
  std::size_t end = length;
  bool no_strings = false;

  switch (choice.rule) {
    case EndRule::kNone:
      return nullptr;
    case EndRule::kListedFields: {
      int counted = 0;
      int fields = choice.offset_count;
      if (type == 10) {
        // (L - 4) / 2 as a signed division, the result taken as 8 bits.
        fields = static_cast<std::uint8_t>((static_cast<int>(length) - 4) / 2);
      }
      for (int i = 0; i < fields; ++i) {
        const std::size_t offset = type == 10 ? 5u + 2u * i : choice.offsets[i];
        std::uint8_t n;
        if (!s.At(offset, n))
          return nullptr;
        if (n == 0)
          continue;
        if (!AddStringLength(s, length, n, end))
          return nullptr;
        ++counted;
      }
      if (counted == 0) {
        no_strings = true;
      } else if (!PassNuls(s, end, 1)) {
        return nullptr;
      }
      break;
    }
    case EndRule::kCountedStrings: {
      std::uint8_t c;
      if (!s.At(4, c))
        return nullptr;
      if (c == 0) {
        no_strings = true;
        break;
      }
      for (int i = 1; i <= c; ++i) {
        if (!AddStringLength(s, length, static_cast<std::uint8_t>(i), end))
          return nullptr;
      }
      if (!PassNuls(s, end, 1))
        return nullptr;
      break;
    }
    case EndRule::kNoStrings:
      no_strings = true;
      break;
    case EndRule::kTrailingBlock: {
      std::uint8_t lo, hi;
      if (!s.At(4, lo) || !s.At(5, hi))
        return nullptr;
      end += static_cast<std::size_t>(lo | (hi << 8));
      break;
    }
  }
  if (no_strings && !PassNuls(s, end, 2))
    return nullptr;
  if (end > s.size())
    return nullptr;
  return structure + end;
}

std::uint16_t GetDMIStructure(const std::uint8_t** cursor, std::uint8_t* destination,
                              std::uint32_t capacity) {
  if (DmiReaderState.table == nullptr)
    return 0xFF;
  const std::uint8_t* start = *cursor;
  const std::uintptr_t table = Addr(DmiReaderState.table);
  const std::uintptr_t table_end = table + DmiReaderState.table_length;

  // A header that does not fit in the table, or a formatted area shorter than the header, is
  // not measured: there is no sound end to give it.
  const std::uint8_t* end = nullptr;
  if (Addr(start) >= table && Addr(start) <= table_end && table_end - Addr(start) >= 4 &&
      start[1] >= 4) {
    end = FindDMIStructureEnd(start, DmiReaderState.table + DmiReaderState.table_length);
  }
  *cursor = end;
  if (end == nullptr) {
    WriteDebug(kDmiBugcheckStructure);
    return 0xFF;
  }
  const std::size_t size = static_cast<std::size_t>(end - start);
  if (destination == nullptr || size > capacity) {
    WriteDebug(kDmiBugcheckStructure);
    return 0xFF;
  }
  std::memcpy(destination, start, size);
  // A handle at or past the number of structures marks the last structure the walk reads.
  if (ReadLe16(destination + 2) >= DmiReaderState.structure_count)
    *cursor = DmiEndMarker();
  return 0;
}

int ScanDMIStructures() {
  const std::uint8_t* cursor = DmiReaderState.table;
  const std::uintptr_t table_end = Addr(DmiReaderState.table) + DmiReaderState.walk_length;
  if (Addr(cursor) >= table_end)
    return 1;
  for (;;) {
    const std::uint8_t* position = cursor;
    if (GetDMIStructure(&cursor, DmiReaderState.scratch, DmiReaderState.scratch_capacity) != 0)
      return 0;
    if (DmiReaderState.scratch[0] == kDmiBaseBoardType) {
      DmiStructureIndexSlot& slot = DmiReaderState.index.slots[kDmiBaseBoardType];
      if (slot.count < kDmiIndexEntries) {
        slot.handles[slot.count] = ReadLe16(DmiReaderState.scratch + 2);
        slot.positions[slot.count] = position;
        ++slot.count;
      }
      if (!SetDMIStringPointers())
        WriteDebug(kDmiBugcheckStrings);
      return 1;
    }
    // Checked after the type, so a base board is recorded even when it is the last structure.
    if (cursor == DmiEndMarker())
      return 1;
    if (Addr(cursor) >= table_end)
      return 1;
  }
}

bool SetDMIStringPointers() {
  const std::uint8_t* scratch = DmiReaderState.scratch;
  const std::size_t capacity = DmiReaderState.scratch_capacity;
  DmiStringPointers& sp = DmiReaderState.strings;
  if (scratch == nullptr || capacity < 2)
    return false;
  std::size_t pos = scratch[1];
  sp.end_position = scratch + (pos < capacity ? pos : capacity);
  for (auto& entry : sp.entries)
    entry = nullptr;

  for (int k = 0; k < kDmiStringEntries; ++k) {
    if (pos >= capacity)
      return false;
    if (scratch[pos] != 0) {
      // Bytes past the current copy are read too (what earlier copies left), but an entry is
      // only set once its text is known to end inside the buffer.
      const void* nul = std::memchr(scratch + pos, 0, capacity - pos);
      if (nul == nullptr)
        return false;
      sp.entries[k] = reinterpret_cast<const char*>(scratch + pos);
      pos = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - scratch) + 1;
    } else {
      sp.entries[k] = kDmiEmptyText;  // an empty string set
      pos += 1;
    }
    sp.end_position = scratch + pos;
    if (pos >= capacity)
      return false;
    if (scratch[pos] == 0)
      break;
  }
  return true;
}

namespace {

const char* StringEntry(std::uint8_t number) {
  if (number == 0 || number > kDmiStringEntries)
    return kDmiEmptyText;
  const char* entry = DmiReaderState.strings.entries[number - 1];
  return entry != nullptr ? entry : kDmiEmptyText;
}

// Writes the text and its NUL only; a text over 127 characters is cut to fit the field.
void CopyField(char (&field)[128], const char* text) {
  std::size_t n = 0;
  while (n < sizeof(field) - 1 && text[n] != '\0')
    ++n;
  std::memcpy(field, text, n);
  field[n] = '\0';
}

}  // namespace

void ExtractDMIBoardIdentity(BoardIdentity& identity) {
  DmiStructureIndexSlot& slot = DmiReaderState.index.slots[kDmiBaseBoardType];
  for (int i = 0; i < slot.count; ++i) {
    // Copy the recorded structure again to the same place, so the string entries still refer
    // to its strings.
    GetDMIStructure(&slot.positions[i], DmiReaderState.scratch, DmiReaderState.scratch_capacity);
    const std::uint8_t manufacturer = DmiReaderState.scratch[4];
    const std::uint8_t product = DmiReaderState.scratch[5];
    CopyField(identity.manufacturer, StringEntry(manufacturer));
    CopyField(identity.product, StringEntry(product));
  }
}

// A slot without entries is empty already, so emptying every slot empties those that hold some.
void ClearDMIStructureIndex() {
  for (DmiStructureIndexSlot& slot : DmiReaderState.index.slots)
    slot = DmiStructureIndexSlot{};
}

namespace {

// Frees what one call allocated, on every way out.
void FreeBuffers(DmiAllocator& memory) {
  if (DmiReaderState.stitched != nullptr) {
    memory.Free(DmiReaderState.stitched);
    DmiReaderState.stitched = nullptr;
  }
  if (DmiReaderState.scratch != nullptr) {
    memory.Free(DmiReaderState.scratch);
    DmiReaderState.scratch = nullptr;
  }
  DmiReaderState.scratch_capacity = 0;
}

struct DebugScope {
  explicit DebugScope(DmiDebugOutput& out) { DmiReaderState.debug = &out; }
  ~DebugScope() { DmiReaderState.debug = nullptr; }
};

// Makes the table contiguous: in place when the driver reports one piece (or a second piece for
// a table that fits in the first page), else joined into a stitched copy. Null when a piece
// cannot be read or the copy cannot be allocated.
const std::uint8_t* AcquireTable(const DmiPlatform& platform, const DmiTableDescriptor& d,
                                 std::uint16_t length) {
  const TablePieces pieces = SplitAtPage(d.FirstPiece, length);
  if (d.SecondPiece == 0 || pieces.tail_length == 0)
    return platform.addresses.Read(d.FirstPiece, length);

  DmiReaderState.stitched = platform.memory.AllocateZeroed(length);
  if (DmiReaderState.stitched == nullptr)
    return nullptr;
  const std::uint8_t* first = platform.addresses.Read(d.FirstPiece, pieces.head_length);
  const std::uint8_t* second = platform.addresses.Read(d.SecondPiece, pieces.tail_length);
  if (first == nullptr || second == nullptr)
    return nullptr;
  std::memcpy(DmiReaderState.stitched, first, pieces.head_length);
  std::memcpy(DmiReaderState.stitched + pieces.head_length, second, pieces.tail_length);
  return DmiReaderState.stitched;
}

}  // namespace

std::uint16_t ReadBoardIdentity(const DmiPlatform& platform, const DmiTableRequests& requests,
                                BoardIdentity& identity) {
  if (platform.device.IsInvalidHandle())
    return kDmiStatusChannelInvalid;
  DebugScope debug_scope(platform.debug);

  if (DmiReaderState.scratch_size < kDmiMinScratchSize)
    DmiReaderState.scratch_size = kDmiMinScratchSize;
  DmiReaderState.scratch = platform.memory.AllocateZeroed(DmiReaderState.scratch_size);
  if (DmiReaderState.scratch == nullptr)
    return kDmiStatusGetTableFailed;
  DmiReaderState.scratch_capacity = DmiReaderState.scratch_size;

  // The descriptor goes back to the driver exactly as it came, so keep its raw bytes. All zero
  // before the request, SecondPiece included.
  std::uint8_t raw[DmiTableDescriptor::kSize] = {};
  if (!platform.device.Control(requests.get_table, nullptr, 0, raw, sizeof(raw))) {
    FreeBuffers(platform.memory);
    return kDmiStatusGetTableFailed;
  }
  const DmiTableDescriptor d = DmiTableDescriptor::Decode(raw);
  const std::uint16_t length = static_cast<std::uint16_t>(d.TableLength);
  if (length == 0) {
    FreeBuffers(platform.memory);
    return kDmiStatusEmptyTable;
  }

  const std::uint8_t* table = AcquireTable(platform, d, length);
  if (table == nullptr) {
    // Never walk what could not be read, and never report it as an empty success.
    platform.device.Control(requests.release_table, raw, sizeof(raw), nullptr, 0);
    FreeBuffers(platform.memory);
    return kDmiStatusGetTableFailed;
  }
  DmiReaderState.table = table;

  DmiReaderState.structure_count = d.StructureCount;
  DmiReaderState.max_structure_size = d.MaxStructureSize;
  DmiReaderState.driver_value1 = d.DriverValue1;
  DmiReaderState.table_length = length;
  DmiReaderState.driver_value2 = d.DriverValue2;
  DmiReaderState.driver_value3 = d.DriverValue3;

  GetDMITableInfo(DmiReaderState.walk_count, DmiReaderState.scratch_size,
                  DmiReaderState.walk_value1, DmiReaderState.walk_length);
  ScanDMIStructures();
  ExtractDMIBoardIdentity(identity);
  ClearDMIStructureIndex();

  const bool released =
      platform.device.Control(requests.release_table, raw, sizeof(raw), nullptr, 0);
  FreeBuffers(platform.memory);
  return released ? kDmiStatusOk : kDmiStatusReleaseFailed;
}
