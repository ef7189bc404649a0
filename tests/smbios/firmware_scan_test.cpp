// The scan of the firmware's memory (0xF0000-0xFFFFF) for the entry point, over 64 KiB images
// built from real entry points and tables.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/dmi/corpus_index.h"
#include "tests/dmi/entry_points.h"
#include "smbios/smbios_dump.h"
#include "tests/corpus.h"

namespace {

using smbios::FindFirmwareTable;
using smbios::FirmwareTable;
using smbios::TableProblem;

constexpr std::uint32_t kBase = 0xF0000;
constexpr std::size_t kImageSize = 0x10000;
constexpr std::uint32_t kTableAt = 0xF8000;  // inside the image, where the tests put the table

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t EntryPointLength(const Bytes& file) {
  if (std::memcmp(file.data(), "_SM3_", 5) == 0)
    return file[0x06];
  if (std::memcmp(file.data(), "_SM_", 4) == 0)
    return file[0x05];
  return 0x0F;
}

// A real dump's entry point, its table moved to `address`.
Bytes MovedEntryPoint(const Bytes& dump, std::uint64_t address) {
  Bytes ep(dump.begin(), dump.begin() + static_cast<std::ptrdiff_t>(EntryPointLength(dump)));
  if (std::memcmp(ep.data(), "_SM3_", 5) == 0)
    PutLe(ep, 0x10, address, 8);
  else if (std::memcmp(ep.data(), "_SM_", 4) == 0)
    PutLe(ep, 0x18, address, 4);
  else
    PutLe(ep, 0x08, address, 4);
  Resum(ep);
  return ep;
}

// 64 KiB of firmware memory with the table at kTableAt and the given entry points placed.
struct Image {
  Bytes memory = Bytes(kImageSize, 0);
  Image& Place(std::size_t at, const Bytes& bytes) {
    for (std::size_t i = 0; i < bytes.size() && at + i < memory.size(); ++i)
      memory[at + i] = bytes[i];
    return *this;
  }
};

// The shipped dump: an `_SM_` entry point and its table.
const Bytes& Shipped() {
  static const Bytes dump = ReadFile(std::string(ZYN_TEST_TABLES) + "/lenovo-thinkpad-w510.bin");
  return dump;
}

Bytes ShippedTable() {
  smbios::TableImage image;
  EXPECT_EQ(smbios::ReadTableFile(Shipped().data(), Shipped().size(), image), TableProblem::kNone);
  return Bytes(image.bytes, image.bytes + image.length);
}

TEST(FirmwareScan, FindsTheSoundEntryPointOrNamesWhatIsWrong) {
  const Bytes table = ShippedTable();
  const Bytes sm = MovedEntryPoint(Shipped(), kTableAt);
  Bytes bad_checksum = sm;
  bad_checksum[0x08] ^= 0x01;  // outside the intermediate entry point
  Bytes bad_intermediate = sm;
  bad_intermediate[0x15] = static_cast<std::uint8_t>(bad_intermediate[0x15] + 1);  // off by one
  bad_intermediate[0x04] = static_cast<std::uint8_t>(bad_intermediate[0x04] - 0x01);
  Bytes bad_length = bad_intermediate;  // the intermediate broken too, or it would be taken
  bad_length[0x05] = 0x40;
  const Bytes legacy = DmiEntryPoint(kTableAt, static_cast<std::uint16_t>(table.size()), 82);
  Bytes bad_legacy = legacy;
  bad_legacy[0x0E] ^= 0x01;
  const Bytes sm3_high = Sm3EntryPoint(0x100000000ull, 0x1000);
  const Bytes sm3_low = Sm3EntryPoint(kTableAt, static_cast<std::uint32_t>(table.size()));
  const Bytes above_4gib = SmEntryPoint(0xFFFFF000u, 0x2000, 3);

  struct Case {
    const char* name;
    Image image;
    std::size_t size;       // how much of the image the scan sees
    std::uint32_t base;     // its physical address
    TableProblem expected;  // and on kNone:
    std::uint32_t entry_point_address;
    std::uint16_t max_structure_size;
  } cases[] = {
      {"first boundary", Image().Place(0, sm), kImageSize, kBase, TableProblem::kNone, 0xF0000,
       0x7F},
      {"a middle boundary", Image().Place(0x4A30, sm), kImageSize, kBase, TableProblem::kNone,
       0xF4A30, 0x7F},
      {"the last boundary it fits", Image().Place(0xFFE0, sm), kImageSize, kBase,
       TableProblem::kNone, 0xFFFE0, 0x7F},
      {"legacy _DMI_", Image().Place(0x0100, legacy), kImageSize, kBase, TableProblem::kNone,
       0xF0100, 0},
      {"a base that is not on a boundary", Image().Place(0x18, sm), kImageSize, kBase + 8,
       TableProblem::kNone, 0xF0020, 0x7F},
      {"a broken candidate, then a sound one", Image().Place(0x100, bad_legacy).Place(0x200, sm),
       kImageSize, kBase, TableProblem::kNone, 0xF0200, 0x7F},
      // The intermediate entry point is the legacy one, with a checksum of its own.
      {"_SM_ with a bad checksum: its intermediate _DMI_ is taken",
       Image().Place(0x100, bad_checksum), kImageSize, kBase, TableProblem::kNone, 0xF0110, 0},
      {"off the 16-byte grid", Image().Place(0x108, sm), kImageSize, kBase,
       TableProblem::kNoEntryPoint, 0, 0},
      {"bad checksum", Image().Place(0x100, bad_legacy), kImageSize, kBase,
       TableProblem::kEntryPointBadChecksum, 0, 0},
      {"bad length byte", Image().Place(0x100, bad_length), kImageSize, kBase,
       TableProblem::kEntryPointBadLength, 0, 0},
      {"_SM_ with a broken intermediate _DMI_", Image().Place(0x100, bad_intermediate), kImageSize,
       kBase, TableProblem::kIntermediateBroken, 0, 0},
      {"entry point cut by the end", Image().Place(0xFFF0, sm), kImageSize, kBase,
       TableProblem::kEntryPointCutShort, 0, 0},
      {"anchor cut by the end", Image().Place(0x7FF0, sm), 0x7FF2, kBase,
       TableProblem::kNoEntryPoint, 0, 0},
      {"_SM3_ with a 64-bit address", Image().Place(0x100, sm3_high), kImageSize, kBase,
       TableProblem::kNoEntryPoint, 0, 0},
      {"_SM3_ is not taken even below 4 GiB", Image().Place(0x100, sm3_low), kImageSize, kBase,
       TableProblem::kNoEntryPoint, 0, 0},
      {"table running past 4 GiB", Image().Place(0x100, above_4gib), kImageSize, kBase,
       TableProblem::kTableAbove4GiB, 0, 0},
      {"no entry point", Image(), kImageSize, kBase, TableProblem::kNoEntryPoint, 0, 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.image.Place(kTableAt - c.base, table);
    FirmwareTable found;
    found.table_address = 0x12345678;
    ASSERT_EQ(FindFirmwareTable(c.image.memory.data(), c.size, c.base, found), c.expected)
        << smbios::DescribeTableProblem(
               FindFirmwareTable(c.image.memory.data(), c.size, c.base, found));
    if (c.expected != TableProblem::kNone) {
      EXPECT_EQ(found.table_address, 0x12345678u) << "nothing written";
      continue;
    }
    EXPECT_EQ(found.entry_point_address, c.entry_point_address);
    EXPECT_EQ(found.table_address, kTableAt);
    EXPECT_EQ(found.table_length, table.size());
    EXPECT_EQ(found.structure_count, 82);
    EXPECT_EQ(found.max_structure_size, c.max_structure_size);
    const std::uint8_t* at = c.image.memory.data() + (found.table_address - c.base);
    EXPECT_EQ(Bytes(at, at + found.table_length), table);
  }
}

// Every real entry point of the corpus, moved into the firmware's memory with its table: the
// scan finds each 32-bit one with the count and length it states, and no 64-bit one.
TEST(FirmwareScan, FindsEveryRealEntryPointOfTheCorpus) {
  ZYN_OPEN_CORPUS_INDEX_OR_SKIP(dir, index);
  const std::string corpus = dir;
  const std::vector<CorpusIndexRow> rows = ReadCorpusIndex(index);
  int found_count = 0, refused_count = 0;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    const std::string& original = rows[row].at("file");
    const Bytes dump = ReadFile(corpus + "/" + original);
    smbios::EntryPoint ep;
    if (smbios::ReadEntryPoint(dump.data(), dump.size(), ep) != TableProblem::kNone)
      continue;  // a raw table or firmware data: no entry point to place
    SCOPED_TRACE(original);
    const Bytes table = ReadFile(corpus + "/" + rows[row].at("table_file"));
    const bool fits = table.size() <= kImageSize - (kTableAt - kBase);
    const std::uint32_t address = fits ? kTableAt : 0x7FF00000u;
    const std::size_t at = ((row * 0x1230) % 0x7000) & ~std::size_t{0xF};
    Image image;
    image.Place(at, MovedEntryPoint(dump, address));
    if (fits)
      image.Place(kTableAt - kBase, table);

    FirmwareTable found;
    const TableProblem problem = FindFirmwareTable(image.memory.data(), kImageSize, kBase, found);
    if (ep.form == smbios::EntryPointForm::kSm3) {
      EXPECT_EQ(problem, TableProblem::kNoEntryPoint);
      ++refused_count;
      continue;
    }
    ASSERT_EQ(problem, TableProblem::kNone) << smbios::DescribeTableProblem(problem);
    EXPECT_EQ(found.entry_point_address, kBase + at);
    EXPECT_EQ(found.table_address, address);
    EXPECT_EQ(found.table_length, ep.table_length);
    EXPECT_EQ(found.structure_count, ep.structure_count);
    EXPECT_EQ(found.version, ep.version);
    if (fits) {
      const std::uint8_t* t = image.memory.data() + (found.table_address - kBase);
      EXPECT_EQ(Bytes(t, t + found.table_length), table);
    }
    ++found_count;
  }
  EXPECT_GT(found_count, 0);
  EXPECT_GT(refused_count, 0);
}

}  // namespace
