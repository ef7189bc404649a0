// The paths the stand-ins work out: their own folder, the table a configuration names, and the
// kernel's form of it.
#include "standin/core/table_path.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(StandinPath, TellsAbsoluteFromRelative) {
  const struct {
    const char* path;
    bool absolute;
  } cases[] = {
      {"C:\\zyn\\w510.bin", true},
      {"c:w510.bin", true},
      {"\\\\server\\share\\t", true},
      {"/tables/t.bin", true},
      {"\\tables\\t.bin", true},
      {"w510.bin", false},
      {"tables\\w510.bin", false},
      {"tables/w510.bin", false},
      {"", false},
      {":x", false},
      {"1:\\x", false},
      {".\\w510.bin", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(standin::IsAbsolutePath(c.path), c.absolute) << c.path;
}

TEST(StandinPath, OnlyAPlainNameInTheDriversFolderIsATableName) {
  const struct {
    const char* name;
    bool plain;
  } cases[] = {
      {"w510.bin", true},
      {"lenovo thinkpad w510.bin", true},
      {"a", true},
      {".hidden", true},
      {"nul1.bin", true},
      {"com10", true},
      {"console.bin", true},
      {"", false},
      {".", false},
      {"..", false},
      {"..\\w510.bin", false},
      {"../w510.bin", false},
      {"tables\\w510.bin", false},
      {"tables/w510.bin", false},
      {"C:\\zyn\\w510.bin", false},
      {"c:w510.bin", false},
      {"\\\\server\\share\\w510.bin", false},
      {"\\\\.\\PhysicalDrive0", false},
      {"\\??\\C:\\w510.bin", false},
      {"/etc/passwd", false},
      {"w510.bin:stream", false},
      {"w510.bin.", false},
      {"w510.bin ", false},
      {"w*.bin", false},
      {"w?10.bin", false},
      {"a|b", false},
      {"tab\there", false},
      {"NUL", false},
      {"nul.bin", false},
      {"Con", false},
      {"aux.txt", false},
      {"prn", false},
      {"COM1", false},
      {"lpt9.bin", false},
      {"CLOCK$", false},
      {"conout$", false},
      {"nul .bin", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(standin::IsPlainFileName(c.name), c.plain) << c.name;
}

std::string Resolve(const char* folder, const char* value) {
  char out[64];
  if (!standin::ResolvePath(folder, value, out, sizeof out))
    return "<too long>";
  return out;
}

TEST(StandinPath, RelativeTablesStartAtTheConfigurationsFolder) {
  EXPECT_EQ(Resolve("C:\\zyn\\", "w510.bin"), "C:\\zyn\\w510.bin");
  EXPECT_EQ(Resolve("C:\\zyn\\", "tables/w510.bin"), "C:\\zyn\\tables/w510.bin");
  EXPECT_EQ(Resolve("C:\\zyn", "w510.bin"), "C:\\zyn\\w510.bin");
  EXPECT_EQ(Resolve("", "w510.bin"), "w510.bin");
  EXPECT_EQ(Resolve("C:\\zyn\\", "D:\\tables\\w510.bin"), "D:\\tables\\w510.bin");
  EXPECT_EQ(Resolve("C:\\zyn\\", "\\\\server\\t.bin"), "\\\\server\\t.bin");
}

TEST(StandinPath, NativeForms) {
  const struct {
    const char* path;
    const char* native;
  } cases[] = {
      {"C:\\zyn\\w510.bin", "\\??\\C:\\zyn\\w510.bin"},
      {"C:/zyn/tables/w510.bin", "\\??\\C:\\zyn\\tables\\w510.bin"},
      {"\\\\server\\share\\t.bin", "\\??\\UNC\\server\\share\\t.bin"},
      {"\\\\?\\C:\\t.bin", "\\??\\C:\\t.bin"},
      {"\\\\.\\C:\\t.bin", "\\??\\C:\\t.bin"},
      {"\\??\\C:\\t.bin", "\\??\\C:\\t.bin"},
      {"\\SystemRoot\\system32\\drivers\\ZYNDRV.sys",
       "\\SystemRoot\\system32\\drivers\\ZYNDRV.sys"},
      {"system32\\drivers\\ZYNDRV.sys", "\\SystemRoot\\system32\\drivers\\ZYNDRV.sys"},
  };
  for (const auto& c : cases) {
    char out[64];
    ASSERT_TRUE(standin::ToNativePath(c.path, out, sizeof out)) << c.path;
    EXPECT_STREQ(out, c.native);
  }
}

// The way the driver goes from its image to its table.
TEST(StandinPath, FromTheImageToTheTable) {
  const struct {
    const char* image;
    const char* table;
    const char* native;
  } cases[] = {
      {"C:\\zyn\\ZYNDRV.sys", "tables\\w510.bin", "\\??\\C:\\zyn\\tables\\w510.bin"},
      {"\\??\\C:\\zyn\\ZYNDRV.sys", "w510.bin", "\\??\\C:\\zyn\\w510.bin"},
      {"\\??\\C:\\zyn\\ZYNDRV.sys", "D:\\w510.bin", "\\??\\D:\\w510.bin"},
  };
  for (const auto& c : cases) {
    char image[64], folder[64], resolved[64], native[64];
    ASSERT_TRUE(standin::ToNativePath(c.image, image, sizeof image));
    ASSERT_TRUE(standin::FolderOf(image, folder, sizeof folder));
    ASSERT_TRUE(standin::ResolvePath(folder, c.table, resolved, sizeof resolved));
    ASSERT_TRUE(standin::ToNativePath(resolved, native, sizeof native));
    EXPECT_STREQ(native, c.native);
  }
}

TEST(StandinPath, RefusesWhatDoesNotFitItsBuffer) {
  // "\??\C:\ab" is 9 characters: it fits 10 bytes, not 9.
  char out[10];
  EXPECT_TRUE(standin::ToNativePath("C:\\ab", out, 10));
  EXPECT_FALSE(standin::ToNativePath("C:\\ab", out, 9));
  EXPECT_EQ(std::string(out).size(), 8u) << "cut, but still terminated";
  EXPECT_TRUE(standin::ResolvePath("C:\\", "abcdef", out, 10));
  EXPECT_FALSE(standin::ResolvePath("C:\\", "abcdefg", out, 10));
  EXPECT_FALSE(standin::FolderOf("C:\\abcdefghij\\x", out, 10));
}

// A planter who knows every reading but one low bit (a counter one tick later) still cannot
// name any attempt beforehand, and attempts never repeat a name when no reading changed.
TEST(StandinPath, TableFileNamesNeitherRepeatNorFollowFromNearbyReadings) {
  std::set<std::string> names;
  for (uint64_t tick : {1000u, 1001u}) {
    standin::NameDraw draw;
    draw.Mix(tick);
    for (uint32_t attempt = 0; attempt < standin::kTableFileAttempts; ++attempt) {
      char name[64];
      ASSERT_TRUE(standin::TableFileName("\\SystemRoot\\Temp\\", draw.Next(), name, sizeof name));
      EXPECT_EQ(std::string(name).size(),
                std::string("\\SystemRoot\\Temp\\ZYNDRV-.tmp").size() + 16);
      EXPECT_TRUE(names.insert(name).second) << name;
    }
  }
}

}  // namespace
