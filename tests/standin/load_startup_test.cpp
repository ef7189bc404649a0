// The start-up both stand-ins share: configuration beside the image, the table it names or the
// firmware's, and a message naming the line whenever the stand-in must refuse to start.
#include "standin/core/load_startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/dmi/entry_points.h"

namespace {

using standin::FileReader;
using standin::Startup;

// Files by exact path, behind the platform's seam; a path it does not know is missing. Records
// what was opened, and can misbehave as a platform might: a size it cannot tell, a file larger
// than 4 GiB, reads that come in small pieces, a file that ends before its size, no memory.
class FakeFiles : public FileReader {
 public:
  std::map<std::string, std::string> files;
  std::map<std::string, Result> failures;
  std::string firmware;
  bool has_firmware = false;
  std::vector<std::string> opened;
  bool size_fails = false;
  uint32_t high = 0;
  uint32_t piece = 0xFFFFFFFF;    // the most one read gives
  uint32_t ends_at = 0xFFFFFFFF;  // reads give nothing from here on
  bool out_of_memory = false;
  int open_files = 0;

  bool ReadFirmware(const uint8_t*& bytes, uint32_t& size) override {
    bytes = reinterpret_cast<const uint8_t*>(firmware.data());
    size = static_cast<uint32_t>(firmware.size());
    return has_firmware;
  }

 protected:
  Result Open(const char* path) override {
    opened.emplace_back(path);
    if (failures.count(path))
      return failures[path];
    current_ = files.find(path);
    if (current_ == files.end())
      return Result::kMissing;
    ++open_files;
    return Result::kRead;
  }
  bool Size(uint32_t& low, uint32_t& high_half) override {
    low = static_cast<uint32_t>(current_->second.size());
    high_half = high;
    return !size_fails;
  }
  uint32_t Read(uint8_t* to, uint32_t at, uint32_t count) override {
    const uint32_t end =
        std::min<uint32_t>(ends_at, static_cast<uint32_t>(current_->second.size()));
    const uint32_t n = at >= end ? 0 : std::min({count, piece, end - at});
    std::copy_n(current_->second.data() + at, n, to);
    return n;
  }
  void Close() override { --open_files; }
  uint8_t* Allocate(Slot slot, uint32_t size) override {
    if (out_of_memory)
      return nullptr;
    std::vector<uint8_t>& block = slot == Slot::kConfig ? config_ : table_;
    block.assign(size + 1, 0xCC);  // never null, even for an empty file
    return block.data();
  }

 private:
  std::map<std::string, std::string>::iterator current_;
  std::vector<uint8_t> config_, table_;
};

// How a whole file is read, the same on both platforms: only what was read in full is served.
TEST(StandinStartup, AFileIsReadWholeOrNotAtAll) {
  const std::string text(1000, 'x');
  const struct {
    const char* name;
    void (*setup)(FakeFiles&);
    uint32_t max_size;
    FileReader::Result result;
  } cases[] = {
      {"whole", [](FakeFiles&) {}, 1000, FileReader::Result::kRead},
      {"in pieces of 7 bytes", [](FakeFiles& f) { f.piece = 7; }, 1000, FileReader::Result::kRead},
      {"one byte over the limit", [](FakeFiles&) {}, 999, FileReader::Result::kTooLarge},
      {"over 4 GiB", [](FakeFiles& f) { f.high = 1; }, 1000, FileReader::Result::kTooLarge},
      {"size unknown", [](FakeFiles& f) { f.size_fails = true; }, 1000,
       FileReader::Result::kFailed},
      {"shrank while read", [](FakeFiles& f) { f.ends_at = 600; }, 1000,
       FileReader::Result::kFailed},
      {"no memory", [](FakeFiles& f) { f.out_of_memory = true; }, 1000,
       FileReader::Result::kFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFiles files;
    files.files["t"] = text;
    c.setup(files);
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(files.ReadWhole(FileReader::Slot::kTable, "t", c.max_size, bytes, size), c.result);
    EXPECT_EQ(files.open_files, 0) << "closed whatever happened";
    if (c.result == FileReader::Result::kRead)
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size), text);
    else
      EXPECT_EQ(bytes, nullptr);
  }
  FakeFiles files;
  files.files["empty"] = "";
  const uint8_t* bytes = nullptr;
  uint32_t size = 5;
  EXPECT_EQ(files.ReadWhole(FileReader::Slot::kTable, "empty", 10, bytes, size),
            FileReader::Result::kRead);
  EXPECT_EQ(size, 0u);
  EXPECT_NE(bytes, nullptr);
  EXPECT_EQ(files.ReadWhole(FileReader::Slot::kTable, "gone", 10, bytes, size),
            FileReader::Result::kMissing);
}

// A raw table of one end-of-table structure, and the firmware's answer carrying it.
const std::string kTable("\x7f\x04\x00\x00\x00\x00", 6);
const std::string kFirmware = std::string("\x00\x02\x08\x00\x06\x00\x00\x00", 8) + kTable;

constexpr char kImage[] = "C:\\zyn\\ZYNDRV.sys";

TEST(StandinStartup, WithoutAConfigurationServesTheFirmwaresTable) {
  FakeFiles files;
  files.firmware = kFirmware;
  files.has_firmware = true;
  Startup startup;
  ASSERT_TRUE(standin::LoadStartup(kImage, "zyndrv.cfg", files, startup)) << startup.message;
  EXPECT_EQ(files.opened, std::vector<std::string>{"C:\\zyn\\zyndrv.cfg"});
  EXPECT_TRUE(startup.from_firmware);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(startup.image.bytes), startup.image.length),
            kTable);
  EXPECT_EQ(startup.config.probe, standin::kDefaultProbeWord);
}

TEST(StandinStartup, AConfigurationWithoutATableKeepsTheFirmwaresTable) {
  FakeFiles files;
  files.files["C:\\zyn\\zyndrv.cfg"] = "probe = 1\n";
  files.firmware = kFirmware;
  files.has_firmware = true;
  Startup startup;
  ASSERT_TRUE(standin::LoadStartup(kImage, "zyndrv.cfg", files, startup)) << startup.message;
  EXPECT_TRUE(startup.from_firmware);
  EXPECT_EQ(startup.config.probe, 1);
}

TEST(StandinStartup, TheTableIsFoundBesideTheConfiguration) {
  FakeFiles files;
  files.files["C:\\zyn\\zyndrv.cfg"] = "offset = 4095\ntable = w510.bin";
  files.files["C:\\zyn\\w510.bin"] = kTable;
  Startup startup;
  ASSERT_TRUE(standin::LoadStartup(kImage, "zyndrv.cfg", files, startup)) << startup.message;
  EXPECT_FALSE(startup.from_firmware);
  EXPECT_STREQ(startup.table_path, "C:\\zyn\\w510.bin");
  EXPECT_EQ(startup.image.length, kTable.size());
  EXPECT_EQ(startup.config.offset, 4095u);
}

// Whoever may write the configuration must not be able to have the stand-in read any other
// file (in kernel mode, as the system) or reach out to a share: such a table is refused before
// anything is opened, even where the file is there.
TEST(StandinStartup, ATableOutsideTheDriversFolderIsRefusedUnopened) {
  for (const char* value : {"tables/w510.bin", "..\\w510.bin", "D:\\tables\\w510.bin",
                            "\\\\server\\share\\w510.bin", "\\\\.\\C:\\w510.bin", "NUL"}) {
    SCOPED_TRACE(value);
    FakeFiles files;
    files.files["C:\\zyn\\zyndrv.cfg"] = std::string("offset = 1\ntable = ") + value;
    files.files[value] = kTable;
    files.files[std::string("C:\\zyn\\") + value] = kTable;
    Startup startup;
    EXPECT_FALSE(standin::LoadStartup(kImage, "zyndrv.cfg", files, startup));
    EXPECT_EQ(startup.message, std::string("zyndrv.cfg line 2: table file not in the driver's "
                                           "folder \"") +
                                   value + "\"");
    EXPECT_EQ(files.opened, std::vector<std::string>{"C:\\zyn\\zyndrv.cfg"});
  }
}

TEST(StandinStartup, RefusesToStartSayingWhy) {
  const std::string config = "# test\ntable = w510.bin\n";
  const struct {
    const char* name;
    std::string config;  // empty: no configuration file
    const char* table;   // null: no table file
    FileReader::Result config_failure;
    bool firmware;
    std::string message;
  } cases[] = {
      {"unknown key", "offset = 1\ntabel = x\n", nullptr, FileReader::Result::kRead, true,
       "zyndrv.cfg line 2: unknown key \"tabel\""},
      {"missing table file", config, nullptr, FileReader::Result::kRead, true,
       "zyndrv.cfg line 2: no such table file \"C:\\zyn\\w510.bin\""},
      {"not a table", config, "_SM_ short", FileReader::Result::kRead, true,
       "zyndrv.cfg line 2: the entry point is cut short \"C:\\zyn\\w510.bin\""},
      // An anchor makes a dump: a damaged one is refused, never served as a raw table.
      {"damaged dump", config, "_SM_xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", FileReader::Result::kRead,
       true, "zyndrv.cfg line 2: the entry point's length byte is wrong \"C:\\zyn\\w510.bin\""},
      {"configuration unreadable", "", nullptr, FileReader::Result::kFailed, true,
       "C:\\zyn\\zyndrv.cfg cannot be read"},
      {"configuration too large", "", nullptr, FileReader::Result::kTooLarge, true,
       "C:\\zyn\\zyndrv.cfg is over 64 KiB"},
      {"no firmware table", "", nullptr, FileReader::Result::kMissing, false,
       "no zyndrv.cfg, and the firmware reports no SMBIOS table"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFiles files;
    if (!c.config.empty())
      files.files["C:\\zyn\\zyndrv.cfg"] = c.config;
    if (c.config_failure != FileReader::Result::kRead)
      files.failures["C:\\zyn\\zyndrv.cfg"] = c.config_failure;
    if (c.table != nullptr)
      files.files["C:\\zyn\\w510.bin"] = c.table;
    files.firmware = kFirmware;
    files.has_firmware = c.firmware;
    Startup startup;
    EXPECT_FALSE(standin::LoadStartup(kImage, "zyndrv.cfg", files, startup));
    EXPECT_EQ(startup.message, c.message);
  }
}

TEST(StandinStartup, TheShippedExampleConfigurationIsValidAsItStands) {
  std::ifstream in(ZYN_STANDIN_DIR "/zyndrv.cfg.example", std::ios::binary);
  ASSERT_TRUE(in);
  FakeFiles files;
  files.files["C:\\zyn\\zyndrv.cfg"] = {std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
  files.firmware = kFirmware;
  files.has_firmware = true;
  Startup startup;
  ASSERT_TRUE(standin::LoadStartup(kImage, "zyndrv.cfg", files, startup)) << startup.message;
  EXPECT_EQ(startup.config.offset, 0u);
  EXPECT_EQ(startup.config.probe, standin::kDefaultProbeWord);
  EXPECT_EQ(startup.config.fail, standin::FailMode::kNone);
}

// Physical memory as a few mapped ranges; records every mapping and fails where told.
class FakeMemory : public standin::PhysicalMemory {
 public:
  std::map<uint32_t, Bytes> ranges;  // by start address
  std::vector<std::pair<uint32_t, uint32_t>> maps;
  int mapped_now = 0;
  uint32_t refuse = 0xFFFFFFFF;  // the address a map of fails
  bool out_of_memory = false;
  Bytes copy;

  const uint8_t* Map(uint32_t address, uint32_t length) override {
    maps.emplace_back(address, length);
    for (auto& [start, bytes] : ranges) {
      if (address != refuse && address >= start && address - start + length <= bytes.size()) {
        ++mapped_now;
        return bytes.data() + (address - start);
      }
    }
    return nullptr;
  }
  void Unmap(const uint8_t*, uint32_t) override { --mapped_now; }
  uint8_t* Allocate(uint32_t size) override {
    copy.assign(size, 0xCC);
    return out_of_memory ? nullptr : copy.data();
  }
};

// Without the firmware table interface: the entry point in 0xF0000-0xFFFFF, then the table it
// names, each mapped only while read, and the copy read as that interface's answer would be.
TEST(StandinStartup, FindsTheFirmwaresTableInPhysicalMemory) {
  const Bytes table(kTable.begin(), kTable.end());
  constexpr uint32_t kTableAt = 0x000E1234;
  const Bytes entry = SmEntryPoint(kTableAt, static_cast<uint16_t>(table.size()), 1);
  const struct {
    const char* name;
    uint32_t entry_at;  // 0: none
    uint32_t refuse;
    bool out_of_memory;
    bool found;
    smbios::TableProblem problem;
    std::vector<std::pair<uint32_t, uint32_t>> maps;
  } cases[] = {
      {"found",
       0xF5A30,
       0xFFFFFFFF,
       false,
       true,
       smbios::TableProblem::kNone,
       {{0xF0000, 0x10000}, {kTableAt, 6}}},
      {"no entry point",
       0,
       0xFFFFFFFF,
       false,
       false,
       smbios::TableProblem::kNoEntryPoint,
       {{0xF0000, 0x10000}}},
      {"the area cannot be mapped",
       0xF5A30,
       0xF0000,
       false,
       false,
       smbios::TableProblem::kNone,
       {{0xF0000, 0x10000}}},
      {"the table cannot be mapped",
       0xF5A30,
       kTableAt,
       false,
       false,
       smbios::TableProblem::kNone,
       {{0xF0000, 0x10000}, {kTableAt, 6}}},
      {"no memory for the copy",
       0xF5A30,
       0xFFFFFFFF,
       true,
       false,
       smbios::TableProblem::kNone,
       {{0xF0000, 0x10000}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeMemory memory;
    Bytes area(0x10000, 0);
    if (c.entry_at != 0)
      std::copy(entry.begin(), entry.end(), area.begin() + (c.entry_at - 0xF0000));
    memory.ranges[0xF0000] = area;
    memory.ranges[kTableAt] = table;
    memory.refuse = c.refuse;
    memory.out_of_memory = c.out_of_memory;
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    smbios::TableProblem problem = smbios::TableProblem::kTooLong;
    EXPECT_EQ(standin::CopyFirmwareTable(memory, bytes, size, problem), c.found);
    EXPECT_EQ(problem, c.problem);
    EXPECT_EQ(memory.maps, c.maps);
    EXPECT_EQ(memory.mapped_now, 0) << "everything mapped is unmapped again";
    if (!c.found)
      continue;
    smbios::TableImage image;
    ASSERT_EQ(smbios::ReadFirmwareTable(bytes, size, image), smbios::TableProblem::kNone);
    EXPECT_EQ(Bytes(image.bytes, image.bytes + image.length), table);
    EXPECT_EQ(image.version, 0x0207);
  }
}

}  // namespace
