// Table files read from disk as dmiread reads them (what their bytes mean: tests/smbios).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "tests/dmi/entry_points.h"
#include "tests/dmi/fixtures.h"
#include "dmi/host/table_file.h"

using namespace std::string_literals;

namespace {

const Bytes kTable = Cat({Structure(1, 0, {0, 0, 0, 0}, "\0\0"s), EndOfTable(1)});

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
