// ReadBoardIdentity against the simulated driver: statuses, the requests it sends, the memory it
// takes and gives back, joining a table from two pieces, and what lands in the BoardIdentity.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/dmi/fixtures.h"
#include "protocol/device_protocol.h"

using namespace std::string_literals;

namespace {

const Bytes kSystem = Structure(1, 0, {1, 2, 0, 0}, "Sys\0Model\0\0"s);
const Bytes kBoardTable = Cat({kSystem, BaseBoard(1, 1, 2, "ABC\0XY\0\0"s), EndOfTable(2)});

TEST(ReaderStatus, InvalidHandleSendsNothingAndAllocatesNothing) {
  ReaderRun run;
  run.Place(kBoardTable, 3);
  run.device.invalid_handle = true;
  EXPECT_EQ(run.Read(), kDmiStatusChannelInvalid);
  EXPECT_TRUE(run.device.requests.empty());
  EXPECT_TRUE(run.memory.sizes.empty());
}

TEST(ReaderStatus, FailedGetTableIsOneAndLeavesIdentity) {
  ReaderRun run;
  run.Place(kBoardTable, 3);
  run.device.fail_get = true;
  EXPECT_EQ(run.Read(), kDmiStatusGetTableFailed);
  EXPECT_EQ(run.device.requests.size(), 1u);
  EXPECT_EQ(run.memory.live(), 0u);
  EXPECT_EQ(run.identity.product[0], '\xEE');
}

TEST(ReaderStatus, LengthWithZeroLow16BitsIsEmptyWithoutRelease) {
  for (std::uint32_t length : {0u, 0x10000u, 0x30000u}) {
    ReaderRun run;
    run.Place(kBoardTable, 3);
    DmiTableDescriptor d = run.Descriptor();
    d.TableLength = length;
    run.SetDescriptor(d);
    EXPECT_EQ(run.Read(), kDmiStatusEmptyTable) << length;
    EXPECT_EQ(run.device.CountRequests(kNtReleaseTableRequest), 0);
    EXPECT_EQ(run.memory.live(), 0u);
    EXPECT_EQ(run.identity.manufacturer[0], '\xEE');
  }
}

TEST(ReaderStatus, FailedReleaseIsTwoAfterTheIdentityIsWritten) {
  ReaderRun run;
  run.Place(kBoardTable, 3);
  run.device.fail_release = true;
  EXPECT_EQ(run.Read(), kDmiStatusReleaseFailed);
  EXPECT_EQ(run.Product(), "XY");
  EXPECT_EQ(run.memory.live(), 0u);
}

// Both families: the same procedure, each with its own request codes.
TEST(ReaderRequests, GetThenReleaseWithTheVeryBytesReturned) {
  for (const DmiTableRequests* codes : {&kNtTableRequests, &kVxdTableRequests}) {
    ReaderRun run;
    run.Place(kBoardTable, 3);
    ASSERT_EQ(run.Read(*codes), kDmiStatusOk);
    ASSERT_EQ(run.device.requests.size(), 2u);
    const SimDevice::Request& get = run.device.requests[0];
    const SimDevice::Request& release = run.device.requests[1];
    EXPECT_EQ(get.code, codes->get_table);
    EXPECT_TRUE(get.input.empty());
    EXPECT_EQ(get.output_size, kTableDescriptorSize);
    EXPECT_EQ(release.code, codes->release_table);
    EXPECT_EQ(release.output_size, 0u);
    EXPECT_TRUE(std::equal(release.input.begin(), release.input.end(),
                           run.device.descriptor.begin(), run.device.descriptor.end()));
  }
  EXPECT_EQ(kNtTableRequests.get_table, 0x220234u);
  EXPECT_EQ(kNtTableRequests.release_table, 0x220238u);
  EXPECT_EQ(kVxdTableRequests.get_table, 2u);
  EXPECT_EQ(kVxdTableRequests.release_table, 3u);
}

TEST(ReaderRequests, DescriptorParsesAndWritesEveryByte) {
  std::uint8_t bytes[28], again[28];
  for (int i = 0; i < 28; ++i)
    bytes[i] = static_cast<std::uint8_t>(i + 1);
  const DmiTableDescriptor d = DmiTableDescriptor::Decode(bytes);
  EXPECT_EQ(d.FirstPiece, 0x04030201u);
  EXPECT_EQ(d.SecondPiece, 0x08070605u);
  EXPECT_EQ(d.StructureCount, 0x0A09u);
  EXPECT_EQ(d.MaxStructureSize, 0x0C0Bu);
  EXPECT_EQ(d.DriverValue1, 0x100F0E0Du);
  EXPECT_EQ(d.TableLength, 0x14131211u);
  EXPECT_EQ(d.DriverValue2, 0x18171615u);
  EXPECT_EQ(d.DriverValue3, 0x1A19u);
  EXPECT_EQ(d.Unnamed, 0x1C1Bu);
  d.Encode(again);
  EXPECT_EQ(std::memcmp(bytes, again, 28), 0);
}

TEST(ReaderMemory, ScratchIsAtLeast8196AndFollowsMaxStructureSizeNextTime) {
  ReaderRun run;
  run.Place(kBoardTable, 3, 0, 20000);
  ASSERT_EQ(run.Read(), kDmiStatusOk);
  ASSERT_EQ(run.Read(), kDmiStatusOk);  // same process: the size the driver asked for
  run.Place(kBoardTable, 3, 0, 100);
  ASSERT_EQ(run.Read(), kDmiStatusOk);
  ASSERT_EQ(run.Read(), kDmiStatusOk);
  EXPECT_EQ(run.memory.sizes, (std::vector<std::uint32_t>{8196, 20000, 20000, 8196}));
  EXPECT_EQ(run.memory.live(), 0u);
  EXPECT_EQ(run.memory.bad_frees(), 0);
}

// The walk bounds copies by what was allocated, not by the MaxStructureSize that replaces the
// scratch size during the call.
TEST(ReaderMemory, StructureLargerThanAllocatedScratchIsAFault) {
  ReaderRun run;
  run.Place(Cat({Structure(128, 0, {0x30, 0x23}, ""), Bytes(0x2330, 'x'), kBoardTable}), 4, 0,
            20000);
  EXPECT_EQ(run.Read(), kDmiStatusOk);
  EXPECT_EQ(run.debug.lines, std::vector<std::string>{kDmiBugcheckStructure});
  EXPECT_EQ(run.memory.sizes.front(), 8196u);
}

TEST(ReaderMemory, FailedScratchAllocationSendsNoRequest) {
  ReaderRun run;
  run.Place(kBoardTable, 3);
  run.memory.fail_allocation = 0;
  EXPECT_EQ(run.Read(), kDmiStatusGetTableFailed);
  EXPECT_TRUE(run.device.requests.empty());
}

TEST(ReaderMemory, FailedStitchedAllocationReleasesTheTable) {
  ReaderRun run;
  run.Place(kBoardTable, 3, 4090);
  run.memory.fail_allocation = 1;
  EXPECT_EQ(run.Read(), kDmiStatusGetTableFailed);
  EXPECT_EQ(run.device.CountRequests(kNtReleaseTableRequest), 1);
  EXPECT_EQ(run.memory.live(), 0u);
}

// A table crossing the page boundary, with the base board straddling it.
TEST(ReaderJoining, TwoPiecesMakeOneTable) {
  const Bytes table =
      Cat({Structure(128, 0, {65, 0}, ""), Bytes(65, 'x'), kBoardTable, Bytes(188, 'x')});
  ASSERT_EQ(table.size(), 300u);
  ReaderRun run;
  run.Place(table, 4, 4000);  // 96 bytes before the page ends, 204 from the second piece
  const DmiTableDescriptor d = run.Descriptor();
  ASSERT_EQ(d.SecondPiece, kSimSecondPage);
  EXPECT_EQ(run.Read(), kDmiStatusOk);
  EXPECT_EQ(run.Manufacturer(), "ABC");
  EXPECT_EQ(run.memory.sizes, (std::vector<std::uint32_t>{8196, 300}));
  EXPECT_EQ(run.memory.live(), 0u);
}

TEST(ReaderJoining, OnePieceIsReadInPlace) {
  ReaderRun run;
  run.Place(kBoardTable, 3, 4096 - static_cast<std::uint32_t>(kBoardTable.size()));
  ASSERT_EQ(run.Descriptor().SecondPiece, 0u);
  EXPECT_EQ(run.Read(), kDmiStatusOk);
  EXPECT_EQ(run.Product(), "XY");
  EXPECT_EQ(run.memory.sizes.size(), 1u);
}

TEST(ReaderJoining, SecondPieceForATableInsideThePageIsIgnored) {
  // Inside the page, and ending exactly at its end.
  for (std::uint32_t offset : {100u, 4096u - static_cast<std::uint32_t>(kBoardTable.size())}) {
    ReaderRun run;
    run.Place(kBoardTable, 3, offset);
    DmiTableDescriptor d = run.Descriptor();
    d.SecondPiece = 0x00990000;  // nothing readable there
    run.SetDescriptor(d);
    EXPECT_EQ(run.Read(), kDmiStatusOk) << offset;
    EXPECT_EQ(run.Product(), "XY") << offset;
    EXPECT_EQ(run.memory.sizes.size(), 1u) << "no joined copy: " << offset;
  }
}

TEST(ReaderJoining, UnreadablePieceIsAFailureAfterRelease) {
  for (bool first : {true, false}) {
    ReaderRun run;
    run.Place(kBoardTable, 3, 4090);
    DmiTableDescriptor d = run.Descriptor();
    (first ? d.FirstPiece : d.SecondPiece) = 0x00990000;
    run.SetDescriptor(d);
    EXPECT_EQ(run.Read(), kDmiStatusGetTableFailed);
    EXPECT_EQ(run.device.CountRequests(kNtReleaseTableRequest), 1);
    EXPECT_EQ(run.memory.live(), 0u);
    EXPECT_EQ(run.identity.product[0], '\xEE');
  }
}

struct IdentityCase {
  const char* name;
  Bytes board;
  std::string manufacturer;
  std::string product;
};

class IdentityTest : public testing::TestWithParam<IdentityCase> {};

TEST_P(IdentityTest, FieldsGetTheNamedStrings) {
  const IdentityCase& c = GetParam();
  ReaderRun run;
  run.Place(Cat({kSystem, c.board, EndOfTable(2)}), 3);
  ASSERT_EQ(run.Read(), kDmiStatusOk);
  EXPECT_EQ(run.Manufacturer(), c.manufacturer);
  EXPECT_EQ(run.Product(), c.product);
  // Only the text and its NUL are written; the rest of each field keeps what was there.
  EXPECT_EQ(run.identity.product[c.product.size() + 1], '\xEE');
  if (c.manufacturer.size() < 127) {
    EXPECT_EQ(run.identity.manufacturer[c.manufacturer.size() + 1], '\xEE');
  }
  EXPECT_TRUE(run.debug.lines.empty());
}

// 22 strings; the two named ones are long enough that the copy by the end rule covers string 20.
std::string TwentyTwoStrings() {
  std::string set;
  for (int i = 1; i <= 19; ++i)
    set += "a\0"s;
  return set + std::string(40, 'X') + '\0' + std::string(40, 'Y') + "\0b\0\0"s;
}

// Names the case in test names instead of dumping its bytes.
void PrintTo(const IdentityCase& c, std::ostream* os) {
  *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Boards, IdentityTest,
    testing::Values(
        IdentityCase{"manufacturer_and_product", BaseBoard(1, 1, 2, "ABC\0XY\0\0"s), "ABC", "XY"},
        IdentityCase{"same_string_twice", BaseBoard(1, 2, 2, "ABC\0XY\0\0"s), "XY", "XY"},
        IdentityCase{"manufacturer_zero", BaseBoard(1, 0, 1, "ABC\0XY\0\0"s), "", "ABC"},
        IdentityCase{"string_number_past_set", BaseBoard(1, 3, 1, "ABC\0XY\0\0"s), "", "ABC"},
        IdentityCase{"empty_string_set", BaseBoard(1, 1, 2, "\0\0"s), "", ""},
        IdentityCase{"string_20_and_21", BaseBoard(1, 20, 21, TwentyTwoStrings()),
                     std::string(40, 'X'), ""},
        IdentityCase{"text_over_127_cut",
                     BaseBoard(1, 1, 2, std::string(200, 'M') + '\0' + "P\0\0"s),
                     std::string(127, 'M'), "P"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReaderIdentity, NoBaseBoardLeavesFieldsAndSucceeds) {
  ReaderRun run;
  run.Place(Cat({kSystem, EndOfTable(1)}), 2);
  EXPECT_EQ(run.Read(), kDmiStatusOk);
  EXPECT_EQ(run.identity.product[0], '\xEE');
  EXPECT_EQ(run.identity.manufacturer[0], '\xEE');
  EXPECT_EQ(run.debug.lines, std::vector<std::string>{kDmiBugcheckStructure});
}

TEST(ReaderIdentity, StringPointerFaultKeepsEntriesBuiltBeforeIt) {
  // A trailing block fills the scratch buffer to its end with non-NUL bytes. The base board's
  // product string is 300 bytes, counted as 44 by its end rule, so its copy stops inside that
  // string and the rest is read from what the trailing block left: it never ends in the buffer.
  const Bytes filler = Cat({Structure(128, 0, {0xFE, 0x1F}, ""), Bytes(0x1FFE, 'q')});
  ASSERT_EQ(filler.size(), 8196u);
  ReaderRun run;
  run.Place(Cat({filler, BaseBoard(1, 1, 2, "M\0"s + std::string(300, 'Z') + "\0\0"s)}), 3);
  EXPECT_EQ(run.Read(), kDmiStatusOk);
  EXPECT_EQ(run.debug.lines, std::vector<std::string>{kDmiBugcheckStrings});
  EXPECT_EQ(run.Manufacturer(), "M");
  EXPECT_EQ(run.Product(), "");
}

TEST(ReaderIdentity, SecondReadStartsClean) {
  // One process, two reads: first a table in two pieces, then one whose board names a product
  // string its set does not have. Nothing of the first read may show or be freed again.
  ReaderRun run;
  run.Place(Cat({Structure(128, 0, {65, 0}, ""), Bytes(65, 'x'), kBoardTable, Bytes(188, 'x')}), 4,
            4000);
  ASSERT_EQ(run.Read(), kDmiStatusOk);
  ASSERT_EQ(run.Product(), "XY");
  run.Place(Cat({kSystem, BaseBoard(1, 1, 2, "MMMMMMMM\0\0"s), EndOfTable(2)}), 3);
  EXPECT_EQ(run.Read(), kDmiStatusOk);
  EXPECT_EQ(run.Manufacturer(), "MMMMMMMM");
  EXPECT_EQ(run.Product(), "");
  EXPECT_EQ(run.memory.bad_frees(), 0);
  EXPECT_EQ(run.memory.live(), 0u);
}

TEST(ReaderIdentity, IndexIsEmptyAfterTheCall) {
  ReaderRun run;
  run.Place(kBoardTable, 3);
  ASSERT_EQ(run.Read(), kDmiStatusOk);
  for (const DmiStructureIndexSlot& slot : DmiReaderState.index.slots)
    EXPECT_EQ(slot.count, 0);
}

}  // namespace
