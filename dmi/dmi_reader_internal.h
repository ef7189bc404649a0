// The reader's inner pieces: the module-level state, and the walker and string routines. Only the
// reader itself, its tests and the fuzzer include this header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dmi/dmi_reader.h"
#include "protocol/device_protocol.h"

inline constexpr std::uint16_t kDmiMinScratchSize = 8196;
inline constexpr int kDmiIndexSlots = 16;
inline constexpr int kDmiIndexEntries = 20;
inline constexpr int kDmiStringEntries = 20;
inline constexpr std::uint8_t kDmiBaseBoardType = 2;

inline constexpr char kDmiBugcheckStructure[] = "BUGCHECK DMI- GetDMIStructure\n";
inline constexpr char kDmiBugcheckStrings[] = "BUGCHECK DMI- SetDMIStringPointers\n";

// One slot per structure type 0-15; only the base board slot is ever filled.
struct DmiStructureIndexSlot {
  std::uint8_t count;
  const std::uint8_t* positions[kDmiIndexEntries];
  std::uint16_t handles[kDmiIndexEntries];
};
struct DmiStructureIndex {
  DmiStructureIndexSlot slots[kDmiIndexSlots];
};

// Entry k refers to string k + 1 of the structure in the scratch buffer, or is null.
struct DmiStringPointers {
  const char* entries[kDmiStringEntries];
  const std::uint8_t* end_position;
};

// The reader's module-level state, one set of variables: DmiReaderState.
struct DmiReaderVariables {
  const std::uint8_t* table;  // the contiguous table: in place, or the stitched copy
  std::uint16_t scratch_size;
  std::uint8_t* scratch;
  // What was really allocated for the scratch buffer. scratch_size is overwritten with
  // MaxStructureSize during the call, so every bound on the buffer uses this instead.
  std::uint32_t scratch_capacity;
  std::uint8_t* stitched;

  // Kept descriptor values.
  std::uint16_t structure_count;
  std::uint16_t max_structure_size;
  std::uint32_t driver_value1;
  std::uint16_t table_length;
  std::uint32_t driver_value2;
  std::uint16_t driver_value3;

  // Walk values, filled by GetDMITableInfo.
  std::uint16_t walk_count;
  std::uint32_t walk_value1;
  std::uint16_t walk_length;

  DmiStructureIndex index;
  DmiStringPointers strings;

  // Where the fault lines go during one call; null writes nowhere.
  DmiDebugOutput* debug;
};

extern DmiReaderVariables DmiReaderState;

// The cursor value that ends a walk after the structure just copied.
const std::uint8_t* DmiEndMarker();

std::uint16_t GetDMITableInfo(std::uint16_t& count, std::uint16_t& max_size, std::uint32_t& value1,
                              std::uint16_t& length);

// The n-th string (from 1) of the set at `set`, or null when the set has fewer strings. Reads stay
// below `limit`; a set that would need a byte at or past it sets `*out_of_bounds` and gives null.
const std::uint8_t* FindDMIString(const std::uint8_t* set, std::uint8_t n,
                                  const std::uint8_t* limit, bool* out_of_bounds);

// Length modulo 256; 0 for null. The text must be NUL-terminated.
std::uint8_t GetDMIStringLength(const std::uint8_t* text);

// Just past the structure by its type's rule; null for a type without a rule or when working
// the end out would read at or past `limit`, or the end would lie past it.
const std::uint8_t* FindDMIStructureEnd(const std::uint8_t* structure, const std::uint8_t* limit);

// Copies the structure at *cursor into destination (capacity bytes) and moves *cursor on.
// 0, or 0xFF after writing the GetDMIStructure fault line (or with no table at all).
std::uint16_t GetDMIStructure(const std::uint8_t** cursor, std::uint8_t* destination,
                              std::uint32_t capacity);

// 1 when the walk ended normally, 0 when GetDMIStructure failed.
int ScanDMIStructures();

// Builds DmiReaderState.strings from the structure in the scratch buffer. False when the build
// would read past the scratch buffer (entries set before that stay).
bool SetDMIStringPointers();

// Copies the recorded base board's manufacturer and product into identity.
void ExtractDMIBoardIdentity(BoardIdentity& identity);

// Empties every slot of the structure index that holds entries.
void ClearDMIStructureIndex();
