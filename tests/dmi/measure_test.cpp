// Finding strings and working out where a structure ends, by the reader's own per-type rules.
#include <gtest/gtest.h>

#include "tests/dmi/fixtures.h"

using namespace std::string_literals;

namespace {

struct StringCase {
  const char* name;
  std::string set;
  std::uint8_t n;
  int expected;  // offset of the string, -1 for none, -2 for a read past the set's end
};

void PrintTo(const StringCase& c, std::ostream* os) {
  *os << c.name;
}

class FindDMIStringTest : public testing::TestWithParam<StringCase> {};

TEST_P(FindDMIStringTest, FindsTheNthString) {
  const StringCase& c = GetParam();
  const auto* set = reinterpret_cast<const std::uint8_t*>(c.set.data());
  bool out_of_bounds = false;
  const std::uint8_t* found = FindDMIString(set, c.n, set + c.set.size(), &out_of_bounds);
  // A read past the set gives null as well: a caller that does not look at the flag must not
  // get an unterminated text.
  const int got = out_of_bounds      ? (found == nullptr ? -2 : -3)
                  : found == nullptr ? -1
                                     : static_cast<int>(found - set);
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, FindDMIStringTest,
    testing::Values(StringCase{"first", "ABC\0XY\0\0"s, 1, 0},
                    StringCase{"second", "ABC\0XY\0\0"s, 2, 4},
                    StringCase{"past_last", "ABC\0XY\0\0"s, 3, -1},
                    StringCase{"number_zero", "ABC\0XY\0\0"s, 0, -1},
                    StringCase{"number_255", "ABC\0XY\0\0"s, 255, -1},
                    StringCase{"no_strings", "\0\0"s, 1, -1},
                    StringCase{"leading_nul_is_empty_string_one", "\0AB\0\0"s, 1, 0},
                    StringCase{"leading_nul_then_string_two", "\0AB\0\0"s, 2, 1},
                    StringCase{"string_not_terminated", "ABC"s, 1, -2},
                    StringCase{"set_not_terminated", "ABC\0"s, 1, -2},
                    // Finding a string does not depend on the strings after it.
                    StringCase{"later_string_cut_off", "A\0B"s, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GetDMIStringLength, CountsModulo256AndNullAsZero) {
  const std::string text(300, 'x');
  EXPECT_EQ(GetDMIStringLength(reinterpret_cast<const std::uint8_t*>(text.c_str())), 300 % 256);
  EXPECT_EQ(GetDMIStringLength(nullptr), 0);
}

struct EndCase {
  const char* name;
  Bytes table;   // the structure under test at offset 0, maybe followed by more bytes
  int expected;  // end offset, -1 for null
};

void PrintTo(const EndCase& c, std::ostream* os) {
  *os << c.name;
}

class FindDMIStructureEndTest : public testing::TestWithParam<EndCase> {};

TEST_P(FindDMIStructureEndTest, EndsWhereItsRuleSays) {
  const EndCase& c = GetParam();
  const std::uint8_t* t = c.table.data();
  const std::uint8_t* end = FindDMIStructureEnd(t, t + c.table.size());
  EXPECT_EQ(end == nullptr ? -1 : static_cast<int>(end - t), c.expected);
}

const Bytes kNext = Structure(127, 9, {}, "\0\0"s);
// A next structure whose first byte, its type, is a NUL that no end rule may pass.
const Bytes kType0Next = Structure(0, 9, {}, "\0\0"s);
const Bytes kTail(300, 'x');

// Type 10 with a formatted length below 4 and one string field far out at offset 301.
Bytes Type10WithLength(std::uint8_t length) {
  Bytes b(600, 0);
  b[0] = 10;
  b[1] = length;
  b[301] = 1;
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FindDMIStructureEndTest,
    testing::Values(
        EndCase{"listed_fields_end_after_named_strings",
                Cat({BaseBoard(1, 1, 2, "ABC\0XY\0\0"s), kNext}), 16},
        EndCase{"type3_fields_4_6_7_8",
                Cat({Structure(3, 1, {1, 0, 2, 0, 0}, "A\0BB\0\0"s), kNext}), 15},
        EndCase{
            "type4_fields_4_7_16",
            Cat({Structure(4, 1, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, "A\0BB\0\0"s), kNext}),
            23},
        EndCase{"listed_fields_all_zero_pass_two_nuls",
                Cat({Structure(1, 1, {0, 0, 0, 0, 0}, "\0\0"s), kNext}), 11},
        EndCase{"no_strings_two_nuls", Cat({Structure(5, 1, {7, 7}, "\0\0"s), kNext}), 8},
        EndCase{"no_strings_before_a_non_nul", Cat({Structure(5, 1, {7, 7}, "Z"s), kNext}), 6},
        EndCase{"missing_string_adds_one", Cat({Structure(6, 1, {2}, "AB\0\0"s), kNext}), 6},
        EndCase{"same_string_counted_twice",
                Cat({Structure(1, 1, {1, 1, 0, 0}, "ABC\0\0"s), kTail}), 16},
        EndCase{"unnamed_strings_not_counted", Cat({Structure(9, 1, {1}, "A\0B\0\0"s), kNext}), 7},
        EndCase{"type17_measured_with_type8_fields",
                Cat({Structure(17, 1, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2}, "AB\0CD\0\0"s),
                     kNext}),
                21},
        EndCase{"trailing_block_type128", Cat({Structure(128, 1, {10, 0}, ""), kTail}), 16},
        EndCase{"type10_fields_from_length",
                Cat({Structure(10, 1, {0x83, 1, 0x83, 2, 0x83, 0}, "AA\0BBB\0\0"s), kNext}), 18},
        EndCase{"type10_length_four_has_no_fields", Cat({Structure(10, 1, {}, "\0\0"s), kNext}), 6},
        EndCase{"type10_length_one_counts_255_fields", Type10WithLength(1), 4},
        EndCase{"type10_length_three_counts_none", Type10WithLength(3), 5},
        EndCase{"counted_strings", Cat({Structure(11, 1, {2}, "A\0BB\0\0"s), kNext}), 11},
        EndCase{"counted_strings_zero_count", Cat({Structure(12, 1, {0}, "\0\0"s), kNext}), 7},
        EndCase{"counted_strings_before_type0",
                Cat({Structure(11, 1, {2}, "A\0BB\0\0"s), kType0Next}), 11},
        EndCase{"counted_strings_zero_count_before_type0",
                Cat({Structure(12, 1, {0}, "\0\0"s), kType0Next}), 7},
        EndCase{"counted_strings_255", Cat({Structure(13, 1, {255}, "A\0B\0\0"s), kTail}),
                5 + 2 + 2 + 253},
        EndCase{"end_exactly_at_table_end", Structure(5, 1, {}, "\0\0"s), 6},
        EndCase{"string_set_runs_off_table", Structure(1, 1, {1, 0, 0, 0}, "ABC"s), -1},
        EndCase{"no_strings_at_table_end", Structure(5, 1, {}, ""), -1},
        EndCase{"trailing_block_past_table_end", Structure(128, 1, {10, 0}, "xx"), -1},
        // Ends one byte past the table: the boundary of the end check itself.
        EndCase{"trailing_block_one_byte_past_table_end",
                Cat({Structure(128, 1, {10, 0}, ""), Bytes(9, 'x')}), -1},
        EndCase{"trailing_block_size_cut_by_table_end", Bytes{128, 4, 1, 0}, -1},
        // The NUL that the rule passes after the counted strings lies just past the table.
        EndCase{"listed_fields_closing_nul_past_table_end",
                Cat({Structure(1, 1, {1, 1, 0, 0}, "ABC\0\0"s), Bytes(3, 'x')}), -1},
        EndCase{"counted_strings_closing_nul_past_table_end", Structure(11, 1, {2}, "A\0\0"s), -1},
        EndCase{"counted_strings_run_off_table", Structure(11, 1, {2}, "A\0BB"s), -1},
        EndCase{"field_offset_past_table_end", Structure(1, 1, {}, "\0\0"s), -1},
        EndCase{"type127_has_no_rule", Cat({EndOfTable(1), kNext}), -1},
        EndCase{"type18_has_no_rule", Cat({Structure(18, 1, {}, "\0\0"s), kNext}), -1},
        EndCase{"type21_has_no_rule", Cat({Structure(21, 1, {}, "\0\0"s), kNext}), -1},
        EndCase{"type129_has_no_rule", Cat({Structure(129, 1, {}, "\0\0"s), kNext}), -1},
        EndCase{"type255_has_no_rule", Cat({Structure(255, 1, {}, "\0\0"s), kNext}), -1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
