// Real tables: the ones shipped in tests/data everywhere, the external corpus when it is present.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/dmi/corpus_index.h"
#include "dmi/host/sim_driver.h"
#include "tests/corpus.h"
#include "dmi/host/table_file.h"

namespace {

// What dmiread hands the reader for a file: the table and the count it would choose.
SimTable LoadAsDmiread(const std::string& path) {
  TableFile file;
  std::string error;
  EXPECT_TRUE(LoadTableFile(path, file, error)) << error;
  SimTable t;
  t.structure_count = file.structure_count;
  t.max_structure_size = file.max_structure_size;
  t.bytes = std::move(file.table);
  return t;
}

std::string Text(const char (&field)[128]) {
  return {field, strnlen(field, 128)};
}

// The same result wherever in its page the driver places the table, whole or in two pieces.
void ExpectSameAtEveryPageOffset(SimTable table, const std::string& name) {
  table.page_offset = 0;
  const DmiRunResult first = RunReaderOnSimTable(table);
  for (std::uint32_t offset = 0; offset < 4096; ++offset) {
    table.page_offset = offset;
    const DmiRunResult r = RunReaderOnSimTable(table);
    const bool same = r.status == first.status && r.debug == first.debug &&
                      std::memcmp(&r.identity, &first.identity, sizeof(r.identity)) == 0 &&
                      r.release_matched && r.leaked_blocks == 0;
    if (!same) {
      ADD_FAILURE() << name << " differs at page offset " << offset;
      return;
    }
  }
}

struct ShippedCase {
  const char* file;
  const char* manufacturer;
  const char* product;
  std::size_t bugcheck_lines;
};

TEST(ShippedTables, ReadAsExpectedAtEveryPageOffset) {
  const ShippedCase cases[] = {
      {"lenovo-thinkpad-w510.bin", "LENOVO", "431924G", 0},
      {"vmware-virtual-platform.table", "Intel Corporation", "440BX Desktop Reference Platform", 0},
      {"asrock-x399-taichi.table", "", "", 1},
      {"sysfs/DMI", "LENOVO", "431924G", 0},
  };
  for (const ShippedCase& c : cases) {
    const std::string path = std::string(ZYN_TEST_TABLES) + "/" + c.file;
    const SimTable table = LoadAsDmiread(path);
    const DmiRunResult r = RunReaderOnSimTable(table);
    EXPECT_EQ(r.status, kDmiStatusOk) << c.file;
    EXPECT_EQ(Text(r.identity.manufacturer), c.manufacturer) << c.file;
    EXPECT_EQ(Text(r.identity.product), c.product) << c.file;
    EXPECT_EQ(r.debug.size(), c.bugcheck_lines) << c.file;
    ExpectSameAtEveryPageOffset(table, c.file);
  }
}

struct CorpusRow {
  std::string file, has_type2, manufacturer, product;
};

// INDEX.tsv: one header line, tab-separated; dmidecode's lines for several base boards are
// joined with " | ", and the reader stops at the first one.
std::vector<CorpusRow> ReadIndex(std::istream& in) {
  std::vector<CorpusRow> rows;
  for (CorpusIndexRow& f : ReadCorpusIndex(in)) {
    auto first = [](const std::string& v) { return v.substr(0, v.find(" | ")); };
    rows.push_back({f["file"], f["has_type2"], first(f["baseboard_manufacturer"]),
                    first(f["baseboard_product"])});
  }
  return rows;
}

class CorpusTest : public testing::Test {
 protected:
  void SetUp() override {
    ZYN_OPEN_CORPUS_INDEX_OR_SKIP(dir, index);
    dir_ = dir;
    rows_ = ReadIndex(index);
    ASSERT_EQ(rows_.size(), 96u);
  }
  std::string dir_;
  std::vector<CorpusRow> rows_;
};

// The historical end rules and handle test stop most walks on newer tables before the base
// board; these are the figures an independent reading of the reader's rules gave.
TEST_F(CorpusTest, ClassificationMatchesTheIndependentFigures) {
  int found = 0, board_after_bugcheck = 0, board_after_handle_test = 0, no_board = 0,
      no_board_bugcheck = 0;
  for (const CorpusRow& row : rows_) {
    const DmiRunResult r = RunReaderOnSimTable(LoadAsDmiread(dir_ + "/" + row.file));
    ASSERT_EQ(r.status, kDmiStatusOk) << row.file;
    ASSERT_LE(r.debug.size(), 1u) << row.file;
    const bool bugcheck = r.debug.size() == 1;
    if (bugcheck) {
      EXPECT_EQ(r.debug[0], "BUGCHECK DMI- GetDMIStructure\n");
    }
    const std::string manufacturer = Text(r.identity.manufacturer);
    const std::string product = Text(r.identity.product);
    if (!manufacturer.empty() || !product.empty()) {
      ++found;
      EXPECT_EQ(manufacturer, row.manufacturer) << row.file;
      EXPECT_EQ(product, row.product) << row.file;
      EXPECT_FALSE(bugcheck) << row.file;
    } else if (row.has_type2 == "yes") {
      ++(bugcheck ? board_after_bugcheck : board_after_handle_test);
    } else {
      ++no_board;
      no_board_bugcheck += bugcheck;
    }
  }
  EXPECT_EQ(found, 7);
  EXPECT_EQ(board_after_bugcheck, 57);
  EXPECT_EQ(board_after_handle_test, 10);
  EXPECT_EQ(no_board, 22);
  EXPECT_EQ(no_board_bugcheck, 6);
}

TEST_F(CorpusTest, EveryTableReadsTheSameAtEveryPageOffset) {
  for (const CorpusRow& row : rows_) {
    ExpectSameAtEveryPageOffset(LoadAsDmiread(dir_ + "/" + row.file), row.file);
  }
}

}  // namespace
