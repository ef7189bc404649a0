// The walk: how it moves from structure to structure, what ends it, and what it records.
#include <gtest/gtest.h>

#include "tests/dmi/fixtures.h"

using namespace std::string_literals;

namespace {

Bytes Plain(std::uint16_t handle) {
  return Structure(5, handle, {}, "\0\0"s);
}

// Puts a table and a scratch buffer straight into the reader state.
class ReaderStateTest : public testing::Test {
 protected:
  Bytes table_;
  Bytes scratch_ = Bytes(kDmiMinScratchSize);
  SimDebugOutput debug_;

  void SetUp() override { ResetDmiReaderState(); }
  void TearDown() override { ResetDmiReaderState(); }
  void Use(Bytes table, std::uint16_t count) {
    table_ = std::move(table);
    DmiReaderState.table = table_.data();
    DmiReaderState.table_length = DmiReaderState.walk_length =
        static_cast<std::uint16_t>(table_.size());
    DmiReaderState.structure_count = count;
    DmiReaderState.scratch = scratch_.data();
    DmiReaderState.scratch_capacity = static_cast<std::uint32_t>(scratch_.size());
    DmiReaderState.debug = &debug_;
  }
};

struct WalkCase {
  const char* name;
  Bytes table;
  std::uint16_t count;
  int result;
  std::size_t bugcheck_lines;
  int recorded_at;  // table offset of the recorded base board, -1 for none
};

void PrintTo(const WalkCase& c, std::ostream* os) {
  *os << c.name;
}

class WalkTest : public ReaderStateTest, public testing::WithParamInterface<WalkCase> {};

TEST_P(WalkTest, EndsAndRecords) {
  const WalkCase& c = GetParam();
  Use(c.table, c.count);
  EXPECT_EQ(ScanDMIStructures(), c.result);
  EXPECT_EQ(debug_.lines, std::vector<std::string>(c.bugcheck_lines, kDmiBugcheckStructure));
  const DmiStructureIndexSlot& slot = DmiReaderState.index.slots[2];
  if (c.recorded_at < 0) {
    EXPECT_EQ(slot.count, 0);
  } else {
    ASSERT_EQ(slot.count, 1);
    EXPECT_EQ(slot.positions[0], table_.data() + c.recorded_at);
    EXPECT_EQ(slot.handles[0], table_[c.recorded_at + 2] | table_[c.recorded_at + 3] << 8);
  }
  for (int t = 0; t < kDmiIndexSlots; ++t) {
    if (t != 2) {
      EXPECT_EQ(DmiReaderState.index.slots[t].count, 0) << "slot " << t;
    }
  }
}

const Bytes kBoard = BaseBoard(2, 1, 2, "M\0P\0\0"s);

INSTANTIATE_TEST_SUITE_P(
    Tables, WalkTest,
    testing::Values(WalkCase{"handles_up_to_count_end_at_last",
                             Cat({Plain(1), Plain(2), Plain(3), EndOfTable(4)}), 3, 1, 0, -1},
                    WalkCase{"handles_below_count_reach_end_of_table",
                             Cat({Plain(0), Plain(1), Plain(2), EndOfTable(3)}), 4, 0, 1, -1},
                    WalkCase{"first_handle_past_count", Cat({Plain(0x100), kBoard}), 40, 1, 0, -1},
                    WalkCase{"base_board_past_count_still_recorded",
                             Cat({BaseBoard(0x100, 1, 2, "M\0P\0\0"s), Plain(1)}), 40, 1, 0, 0},
                    WalkCase{"base_board_after_others",
                             Cat({Plain(0), Plain(1), kBoard, EndOfTable(3)}), 10, 1, 0, 12},
                    WalkCase{"end_of_table_before_base_board",
                             Cat({Plain(0), EndOfTable(1), kBoard}), 10, 0, 1, -1},
                    WalkCase{"type_without_rule_before_base_board",
                             Cat({Structure(18, 0, {}, "\0\0"s), kBoard}), 10, 0, 1, -1},
                    WalkCase{"length_below_four", Cat({Plain(0), Bytes{5, 3, 1, 0, 0, 0}, kBoard}),
                             10, 0, 1, -1},
                    WalkCase{"header_cut_by_table_end", Cat({Plain(0), Bytes{5, 4, 1}}), 10, 0, 1,
                             -1},
                    WalkCase{"string_set_runs_off_table",
                             Cat({Plain(0), BaseBoard(1, 1, 2, "M\0P"s)}), 10, 0, 1, -1},
                    WalkCase{"structure_longer_than_scratch",
                             Cat({Structure(128, 0, {0x30, 0x23}, ""), Bytes(0x2330, 'x'), kBoard}),
                             10, 0, 1, -1},
                    WalkCase{"walk_runs_to_table_end", Cat({Plain(0), Plain(1)}), 10, 1, 0, -1},
                    WalkCase{"empty_walk", Bytes{}, 10, 1, 0, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReaderStateTest, GetDMIStructureWithoutTableLeavesCursorAndWritesNothing) {
  Use(Plain(0), 10);
  DmiReaderState.table = nullptr;
  const std::uint8_t* cursor = table_.data();
  EXPECT_EQ(GetDMIStructure(&cursor, scratch_.data(), 8196), 0xFF);
  EXPECT_EQ(cursor, table_.data());
  EXPECT_TRUE(debug_.lines.empty());
}

TEST_F(ReaderStateTest, GetDMIStructureCopiesAndMovesTheCursor) {
  Use(Cat({Plain(0), Plain(7)}), 5);
  const std::uint8_t* cursor = table_.data();
  ASSERT_EQ(GetDMIStructure(&cursor, scratch_.data(), 8196), 0);
  EXPECT_EQ(cursor, table_.data() + 6);
  ASSERT_EQ(GetDMIStructure(&cursor, scratch_.data(), 8196), 0);
  EXPECT_EQ(cursor, DmiEndMarker());  // handle 7 is not below 5
  EXPECT_EQ(Bytes(scratch_.begin(), scratch_.begin() + 6), Plain(7));
}

TEST_F(ReaderStateTest, GetDMITableInfoNeedsATableAndWritesKeptValues) {
  std::uint16_t count = 1, max_size = 2, length = 3;
  std::uint32_t value1 = 4;
  EXPECT_EQ(GetDMITableInfo(count, max_size, value1, length), 0xFF);
  EXPECT_EQ(count + max_size + length + value1, 10u);
  Use(Plain(0), 77);
  DmiReaderState.max_structure_size = 300;
  DmiReaderState.driver_value1 = 0xDEADBEEF;
  EXPECT_EQ(GetDMITableInfo(count, max_size, value1, length), 0);
  EXPECT_EQ(count, 77);
  EXPECT_EQ(max_size, 300);
  EXPECT_EQ(value1, 0xDEADBEEF);
  EXPECT_EQ(length, 6);
}

// SetDMIStringPointers reads the structure the walk left in the scratch buffer.
class StringPointersTest : public ReaderStateTest {
 protected:
  void Load(const Bytes& structure) {
    Use(Plain(0), 10);
    std::copy(structure.begin(), structure.end(), scratch_.begin());
  }
  const char* Entry(int k) const { return DmiReaderState.strings.entries[k]; }
  const std::uint8_t* At(std::size_t offset) const { return scratch_.data() + offset; }
};

TEST_F(StringPointersTest, EntriesReferToStringsInOrder) {
  Load(BaseBoard(1, 1, 2, "ABC\0XY\0\0"s));
  ASSERT_TRUE(SetDMIStringPointers());
  EXPECT_STREQ(Entry(0), "ABC");
  EXPECT_STREQ(Entry(1), "XY");
  for (int k = 2; k < 20; ++k)
    EXPECT_EQ(Entry(k), nullptr);
  EXPECT_EQ(DmiReaderState.strings.end_position, At(15));  // on the NUL that closes the set
}

TEST_F(StringPointersTest, EmptySetGivesTheEmptyText) {
  Load(BaseBoard(1, 1, 2, "\0\0"s));
  ASSERT_TRUE(SetDMIStringPointers());
  EXPECT_EQ(Entry(0), kDmiEmptyText);
  EXPECT_EQ(Entry(1), nullptr);
  EXPECT_EQ(DmiReaderState.strings.end_position, At(9));
}

TEST_F(StringPointersTest, StopsAfterTwentyStrings) {
  std::string set;
  for (int i = 1; i <= 22; ++i)
    set += "s" + std::to_string(i) + '\0';
  Load(BaseBoard(1, 1, 2, set + '\0'));
  ASSERT_TRUE(SetDMIStringPointers());
  EXPECT_STREQ(Entry(19), "s20");
  EXPECT_STREQ(reinterpret_cast<const char*>(DmiReaderState.strings.end_position), "s21");
}

TEST_F(StringPointersTest, TextEndingOnTheLastByteIsAFault) {
  // The string's NUL is the buffer's last byte, so the byte that would end the set lies behind
  // the buffer (a NUL here, which is not the set's).
  std::fill(scratch_.begin(), scratch_.end(), 'B');
  Load(BaseBoard(1, 1, 2, "A\0"s));
  DmiReaderState.scratch_capacity = static_cast<std::uint32_t>(scratch_.size() - 1);
  scratch_[scratch_.size() - 2] = 0;
  scratch_.back() = 0;
  EXPECT_FALSE(SetDMIStringPointers());
  EXPECT_STREQ(Entry(0), "A");
}

TEST_F(StringPointersTest, NoScratchBufferIsAFault) {
  Load(BaseBoard(1, 1, 2, "A\0\0"s));
  DmiReaderState.scratch = nullptr;
  EXPECT_FALSE(SetDMIStringPointers());
}

TEST_F(StringPointersTest, TextRunningToBufferEndIsAFaultAndKeepsEarlierEntries) {
  // What earlier copies left behind the structure holds no NUL up to the buffer's end.
  std::fill(scratch_.begin(), scratch_.end(), 'B');
  Load(BaseBoard(1, 1, 2, "A\0"s));
  EXPECT_FALSE(SetDMIStringPointers());
  EXPECT_STREQ(Entry(0), "A");
  EXPECT_EQ(Entry(1), nullptr);
}

}  // namespace
