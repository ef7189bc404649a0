// What a stand-in does before it serves anything: find its configuration beside its image, read
// it, read the table it names (or the firmware's), and say on which line things went wrong. The
// platform only reads files; everything else happens here, the same for both stand-ins.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "standin/core/config.h"
#include "smbios/smbios_dump.h"

namespace standin {

inline constexpr uint32_t kMaxConfigBytes = 64 * 1024;

// Reads whole files for the start-up. A slot's bytes stay valid until that slot is read again or
// the reader goes; the table slot's bytes are what the stand-in then serves. How a whole file is
// read (the size limit, a file that shrinks while it is read, what each failure means) is the
// same for both stand-ins and written here once; each platform gives only the calls behind the
// seam below.
class FileReader {
 public:
  enum class Slot : uint8_t { kConfig, kTable };
  enum class Result : uint8_t { kRead, kMissing, kFailed, kTooLarge };

  Result ReadWhole(Slot slot, const char* path, uint32_t max_size, const uint8_t*& bytes,
                   uint32_t& size);
  // The firmware's raw SMBIOS data ('RSMB'), into the table slot; false when there is none.
  virtual bool ReadFirmware(const uint8_t*& bytes, uint32_t& size);

 protected:
  ~FileReader() = default;

  // The platform's part, for one file at a time. Open answers kRead (open), kMissing or
  // kFailed; Size gives the file's size in two halves; Read reads at `at` and answers how many
  // bytes it read (0: failed, or the file ended early); Close closes what Open opened. Allocate
  // gives `size` bytes (0 allowed) for a slot, replacing what that slot held, or null.
  virtual Result Open(const char* path);
  virtual bool Size(uint32_t& low, uint32_t& high);
  virtual uint32_t Read(uint8_t* to, uint32_t at, uint32_t count);
  virtual void Close();
  virtual uint8_t* Allocate(Slot slot, uint32_t size);
};

// Physical memory, for a kernel without the firmware table interface (NT 4.0 to XP): mapped
// for reading, and a block for the copy.
class PhysicalMemory {
 public:
  // `length` bytes from `address` on, readable; null when they cannot be mapped.
  virtual const uint8_t* Map(uint32_t address, uint32_t length);
  virtual void Unmap(const uint8_t* mapped, uint32_t length);
  // A block for the copy, kept by the platform as the table slot's bytes; null without memory.
  virtual uint8_t* Allocate(uint32_t size);

 protected:
  ~PhysicalMemory() = default;
};

inline constexpr uint32_t kFirmwareAreaAddress = 0xF0000;
inline constexpr uint32_t kFirmwareAreaLength = 0x10000;

// Finds the entry point the firmware publishes in 0xF0000-0xFFFFF (mapped only while it is
// scanned), then copies the table it names (mapped only while it is copied) behind an 8-byte
// header, so that the copy reads as the firmware table interface's answer. `problem` says why
// when it answers false (kNone: the memory could not be mapped or copied).
bool CopyFirmwareTable(PhysicalMemory& memory, const uint8_t*& bytes, uint32_t& size,
                       smbios::TableProblem& problem);

struct Startup {
  Config config;
  smbios::TableImage image;
  bool from_firmware = false;
  char table_path[kMaxPath] = {};    // the table file as opened; empty for the firmware's
  char message[kMaxPath + 96] = {};  // why the stand-in must not start
  // Work space, so that a kernel caller can keep all of it off its small stack.
  char folder[kMaxPath] = {};
  char config_path[kMaxPath] = {};
};

// `image_path` is the stand-in's own file, `config_name` its configuration's file name. False
// with `startup.message` set when the stand-in must refuse to start.
bool LoadStartup(const char* image_path, const char* config_name, FileReader& files,
                 Startup& startup);

}  // namespace standin
