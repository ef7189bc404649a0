// Saved table files: the entry point forms, the errors dmiread reports, and structure counting.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "entry_points.h"
#include "fixtures.h"
#include "table_file.h"

using namespace std::string_literals;

namespace {

const Bytes kTable = Cat({Structure(1, 0, {0, 0, 0, 0}, "\0\0"s), EndOfTable(1)});

// An entry point of the given anchor at offset 0, the table at 0x20.
Bytes Dump(const char* anchor, std::uint32_t length, std::uint16_t count,
           std::uint64_t address = 0x20) {
  if (std::strcmp(anchor, "_SM3_") == 0)
    return DumpOf(Sm3EntryPoint(address, length), kTable);
  if (std::strcmp(anchor, "_SM_") == 0) {
    return DumpOf(SmEntryPoint(static_cast<std::uint32_t>(address),
                               static_cast<std::uint16_t>(length), count, 0x1234),
                  kTable);
  }
  return DumpOf(
      DmiEntryPoint(static_cast<std::uint32_t>(address), static_cast<std::uint16_t>(length), count),
      kTable);
}

struct ImageCase {
  const char* name;
  Bytes file;
  const char* error;  // null when the file should load
  std::size_t table_size;
  int count;
};

void PrintTo(const ImageCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadTableFileTest : public testing::TestWithParam<ImageCase> {};

TEST_P(ReadTableFileTest, ReadsOrRejects) {
  const ImageCase& c = GetParam();
  smbios::TableImage image;
  const smbios::TableProblem problem = smbios::ReadTableFile(c.file.data(), c.file.size(), image);
  const std::string message = smbios::DescribeTableProblem(problem);
  if (c.error != nullptr) {
    EXPECT_NE(message.find(c.error), std::string::npos) << message;
    return;
  }
  ASSERT_EQ(problem, smbios::TableProblem::kNone) << message;
  const Bytes table(image.bytes, image.bytes + image.length);
  EXPECT_EQ(table.size(), c.table_size);
  EXPECT_EQ(image.structure_count, c.count);
  if (c.table_size == kTable.size()) {
    EXPECT_EQ(table, kTable);
  }
}

const auto kRawBig = Bytes(65536, 1);
INSTANTIATE_TEST_SUITE_P(
    Files, ReadTableFileTest,
    testing::Values(
        // Without a count in an entry point, the structures are counted.
        ImageCase{"raw_table", kTable, nullptr, kTable.size(), 2},
        ImageCase{"empty_file", Bytes{}, nullptr, 0, 0},
        ImageCase{"dump_32bit", Dump("_SM_", 16, 2), nullptr, 16, 2},
        ImageCase{"dump_legacy", Dump("_DMI_", 16, 7), nullptr, 16, 7},
        ImageCase{"dump_64bit_maximum_past_file_end", Dump("_SM3_", 5000, 0), nullptr, 16, 2},
        ImageCase{"entry_point_cut_short", Bytes{'_', 'S', 'M', '_', 0, 0}, "cut short", 0, 0},
        ImageCase{"table_past_file_end", Dump("_SM_", 17, 2), "outside the file", 0, 0},
        ImageCase{"address_past_file_end", Dump("_SM3_", 12, 0, 0x100), "outside the file", 0, 0},
        ImageCase{"raw_table_over_65535", kRawBig, "over 65535", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CountStructures, StopsAtEndOfTableShortLengthOrTableEnd) {
  const Bytes three = Cat({kTable, Structure(5, 2, {}, "\0\0"s)});
  using smbios::CountStructures;
  EXPECT_EQ(CountStructures(three.data(), three.size()), 2);  // type 127 is the last counted
  const Bytes plain = Cat({Structure(5, 0, {}, "\0\0"s), Structure(5, 1, {}, "\0\0"s)});
  EXPECT_EQ(CountStructures(plain.data(), plain.size()), 2);
  const Bytes short_length = Cat({Structure(5, 0, {}, "\0\0"s), Bytes{5, 3, 0, 0, 0, 0}});
  EXPECT_EQ(CountStructures(short_length.data(), short_length.size()), 1);
  const Bytes unterminated = Cat({Structure(5, 0, {}, "\0\0"s), Structure(1, 1, {1}, "A")});
  EXPECT_EQ(CountStructures(unterminated.data(), unterminated.size()), 2);
}

TEST(LoadTableFile, KernelTableTakesTheCountFromItsEntryPoint) {
  const std::string dir = testing::TempDir() + "dmiread_sysfs";
  std::remove((dir + "/DMI").c_str());
  ASSERT_TRUE(std::system(("mkdir -p '" + dir + "'").c_str()) == 0);
  const Bytes ep = SmEntryPoint(0x7F000, 12, 9);
  std::ofstream(dir + "/DMI", std::ios::binary)
      .write(reinterpret_cast<const char*>(kTable.data()), kTable.size());
  std::ofstream(dir + "/smbios_entry_point", std::ios::binary)
      .write(reinterpret_cast<const char*>(ep.data()), 0x1F);
  TableFile file;
  std::string error;
  ASSERT_TRUE(LoadTableFile(dir + "/DMI", file, error)) << error;
  EXPECT_EQ(file.table, kTable);
  EXPECT_EQ(file.structure_count, 9);
  EXPECT_FALSE(LoadTableFile(dir + "/missing", file, error));
  EXPECT_NE(error.find("no such file"), std::string::npos);
}

}  // namespace
