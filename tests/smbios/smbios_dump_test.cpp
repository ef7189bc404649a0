// Finding the structure table in a table file or in the firmware's answer: what dmiread and both
// stand-ins read.
#include "smbios/smbios_dump.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/dmi/corpus_index.h"
#include "tests/dmi/entry_points.h"
#include "dmi/host/table_file.h"
#include "tests/corpus.h"

namespace {

using smbios::TableImage;
using smbios::TableProblem;

// BIOS (type 0, 2 strings, 20 bytes), base board (type 2, 2 strings, 23 bytes, the longest) and
// the end of table: 3 structures.
Bytes SmallTable() {
  using namespace std::string_literals;
  const std::string t =
      "\x00\x08\x00\x00\x01\x02\x00\x00Vendor\0"
      "1.0\0\0"s +
      "\x02\x08\x01\x00\x01\x02\x00\x00Maker\0"
      "Board 1\0\0"s +
      "\x7f\x04\x02\x00\x00\x00"s;
  return Bytes(t.begin(), t.end());
}

// The three entry point forms as dump files write them: entry point at 0, table at 0x20.
Bytes SmDump(const Bytes& table, uint16_t count, uint16_t max_size) {
  return DumpOf(SmEntryPoint(0x20, static_cast<uint16_t>(table.size()), count, max_size), table);
}

Bytes Sm3Dump(const Bytes& table, uint32_t maximum_length) {
  return DumpOf(Sm3EntryPoint(0x20, maximum_length), table);
}

Bytes DmiDump(const Bytes& table, uint16_t count) {
  return DumpOf(DmiEntryPoint(0x20, static_cast<uint16_t>(table.size()), count), table);
}

Bytes Prefix(const Bytes& b, size_t n) {
  return Bytes(b.begin(), b.begin() + n);
}

Bytes Table(const TableImage& image) {
  return Bytes(image.bytes, image.bytes + image.length);
}

TEST(SmbiosDump, ReadsEachDumpFormAndARawTable) {
  const Bytes table = SmallTable();
  struct Case {
    const char* name;
    Bytes file;
    uint16_t count;
    uint16_t max_size;
    uint16_t version;
  } cases[] = {
      // The entry point's count and maximum win over what counting would give.
      {"_SM_ entry point", SmDump(table, 9, 0x77), 9, 0x77, 0x0207},
      // No count in a 64-bit entry point, and its length is a maximum: the file ends first.
      {"_SM3_ entry point", Sm3Dump(table, 0x1000), 3, 23, 0x0302},
      {"_DMI_ entry point", DmiDump(table, 5), 5, 23, 0x0201},
      {"raw table", table, 3, 23, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TableImage image;
    ASSERT_EQ(smbios::ReadTableFile(c.file.data(), c.file.size(), image), TableProblem::kNone);
    EXPECT_EQ(Table(image), table);
    EXPECT_EQ(image.structure_count, c.count);
    EXPECT_EQ(image.max_structure_size, c.max_size);
    EXPECT_EQ(image.version, c.version);
  }
}

TEST(SmbiosDump, AnEmptyFileIsAnEmptyTable) {
  TableImage image;
  const uint8_t none = 0;
  ASSERT_EQ(smbios::ReadTableFile(&none, 0, image), TableProblem::kNone);
  EXPECT_EQ(image.length, 0u);
  EXPECT_EQ(image.structure_count, 0);
}

TEST(SmbiosDump, RefusesFilesThatAreNotTables) {
  const Bytes table = SmallTable();
  Bytes outside = SmDump(table, 3, 0);
  PutLe(outside, 0x18, 0x400, 4);
  Resum(outside);
  Bytes past_end = DmiDump(table, 3);
  PutLe(past_end, 0x06, static_cast<uint32_t>(table.size() + 1), 2);
  Resum(past_end);
  Bytes far = Sm3Dump(table, 0x1000);
  PutLe(far, 0x14, 1, 4);  // above 4 GiB
  Resum(far);
  Bytes huge_sm3 = Sm3Dump(Bytes(70000, 0), 70000);
  Bytes huge_bad_checksum = SmDump(Bytes(70000, 0), 3, 0);
  huge_bad_checksum[0x08] ^= 1;
  Bytes bad_legacy = DmiDump(table, 3);
  bad_legacy[0x0E] ^= 1;
  struct Case {
    const char* name;
    Bytes file;
    TableProblem problem;
  } cases[] = {
      {"_SM_ cut short", Prefix(SmDump(table, 3, 0), 0x1D), TableProblem::kEntryPointCutShort},
      {"_SM3_ cut short", Prefix(Sm3Dump(table, 9), 0x17), TableProblem::kEntryPointCutShort},
      {"_DMI_ cut short", Prefix(DmiDump(table, 3), 0x0D), TableProblem::kEntryPointCutShort},
      {"table address past the file", outside, TableProblem::kOutsideFile},
      {"table length past the file", past_end, TableProblem::kOutsideFile},
      {"64-bit table address", far, TableProblem::kOutsideFile},
      {"raw table over 65535 bytes", Bytes(65536, 0), TableProblem::kTooLong},
      {"_SM3_ table over 65535 bytes", huge_sm3, TableProblem::kTooLong},
      {"bad checksum", huge_bad_checksum, TableProblem::kEntryPointBadChecksum},
      {"bad legacy checksum", bad_legacy, TableProblem::kEntryPointBadChecksum},
      {"file over 1 MiB", Bytes(smbios::kMaxTableFileSize + 1, 0), TableProblem::kFileTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TableImage image;
    image.length = 12345;
    EXPECT_EQ(smbios::ReadTableFile(c.file.data(), c.file.size(), image), c.problem);
    EXPECT_EQ(image.length, 12345u) << "a refused file leaves the image alone";
  }
  TableImage image;
  const Bytes largest(65535, 0);
  EXPECT_EQ(smbios::ReadTableFile(largest.data(), largest.size(), image), TableProblem::kNone);
}

TEST(SmbiosDump, ReadsTheFirmwaresAnswer) {
  const Bytes table = SmallTable();
  Bytes answer = {0, 2, 8, 0, 0, 0, 0, 0};
  PutLe(answer, 4, static_cast<uint32_t>(table.size()), 4);
  answer.insert(answer.end(), table.begin(), table.end());
  TableImage image;
  ASSERT_EQ(smbios::ReadFirmwareTable(answer.data(), answer.size(), image), TableProblem::kNone);
  EXPECT_EQ(Table(image), table);
  EXPECT_EQ(image.structure_count, 3);
  EXPECT_EQ(image.version, 0x0208);

  EXPECT_EQ(smbios::ReadFirmwareTable(answer.data(), answer.size() - 1, image),
            TableProblem::kFirmwareDataCutShort);
  EXPECT_EQ(smbios::ReadFirmwareTable(answer.data(), 7, image),
            TableProblem::kFirmwareDataCutShort);
}

TEST(SmbiosDump, CountingStopsWhereTheTableCannotBeFollowed) {
  const Bytes table = SmallTable();
  Bytes after_end = table;
  after_end.insert(after_end.end(), table.begin(), table.end());  // past type 127: not counted
  Bytes short_length = table;
  short_length[20 + 1] = 3;  // the base board's formatted length below 4
  Bytes unterminated(table.begin(), table.begin() + 20 + 14);  // base board's set never ends
  struct Case {
    const char* name;
    Bytes bytes;
    uint16_t count;
    uint16_t largest;
  } cases[] = {
      {"ends at the end-of-table structure", after_end, 3, 23},
      {"formatted length below 4", short_length, 1, 20},
      {"string set cut by the table's end", unterminated, 2, 20},
      {"nothing", {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto n = static_cast<uint32_t>(c.bytes.size());
    EXPECT_EQ(smbios::CountStructures(c.bytes.data(), n), c.count);
    EXPECT_EQ(smbios::LargestStructure(c.bytes.data(), n), c.largest);
  }
}

// Real tables: the stand-ins must find the same table and count as the program's own tool does.
void CompareWithTheToolsReading(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "cannot open " << path;
  const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  TableFile expected;
  std::string error;
  const bool tool_reads = LoadTableFile(path.string(), expected, error);
  TableImage image;
  const TableProblem problem = smbios::ReadTableFile(bytes.data(), bytes.size(), image);
  ASSERT_EQ(problem == TableProblem::kNone, tool_reads) << error;
  if (!tool_reads)
    return;
  EXPECT_EQ(Table(image), expected.table);
  EXPECT_EQ(image.structure_count, expected.structure_count);
}

TEST(SmbiosDump, AgreesWithTheToolOnShippedTables) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ZYN_TEST_TABLES)) {
    if (!entry.is_regular_file())
      continue;
    SCOPED_TRACE(entry.path().string());
    CompareWithTheToolsReading(entry.path());
    ++files;
  }
  EXPECT_GE(files, 3);
}

TEST(SmbiosDump, AgreesWithTheToolOnTheCorpus) {
  ZYN_OPEN_CORPUS_INDEX_OR_SKIP(dir, index);
  const std::filesystem::path corpus = dir;
  int files = 0;
  for (CorpusIndexRow& row : ReadCorpusIndex(index)) {
    for (const std::string& name : {row["file"], row["table_file"]}) {
      SCOPED_TRACE(name);
      CompareWithTheToolsReading(corpus / name);
      ++files;
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
