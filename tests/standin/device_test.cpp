// The requests both stand-ins answer: probe word, descriptor, two-piece layout and the book of
// descriptors handed out. A fake mapper stands in for sections or the caller's memory; the last
// tests run the program's own reader against the stand-in logic.
#include "standin/core/device.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "dmi/dmi_reader.h"
#include "dmi/host/sim_driver.h"
#include "standin/core/text.h"
#include "smbios/smbios_dump.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Descriptor = std::array<uint8_t, kTableDescriptorSize>;
using smbios::TableImage;
using standin::Answer;
using standin::Config;
using standin::FailMode;
using standin::StandinDevice;
using standin::TableLayout;

// Hands out head pages 1 MiB apart and tails 128 KiB after their head; records what is mapped.
// With a `space`, it also makes the table's bytes readable there, as a real mapper would.
class FakeMapper : public standin::TableMapper {
 public:
  struct View {
    uintptr_t process;
    uintptr_t tail;
  };
  bool fail = false;
  bool adjacent = false;
  const Bytes* table = nullptr;
  SimAddressSpace* space = nullptr;
  std::map<uintptr_t, View> mapped;  // head -> (process, tail)
  std::vector<uintptr_t> unmapped;   // heads, in order
  bool refuse_unmap = false;         // as a process the kernel cannot reach
  std::vector<uintptr_t> dropped;    // processes let go of with their views still mapped

  bool Map(uintptr_t process, const TableLayout& layout, uintptr_t& head,
           uintptr_t& tail) override {
    if (fail)
      return false;
    head = 0x00400000 + 0x00100000 * next_++;
    tail = layout.tail_view_size > 0 ? head + (adjacent ? kTablePageSize : 0x20000) : 0;
    mapped[head] = {process, tail};
    if (space != nullptr) {
      Bytes head_page(layout.head_view_size), tail_pages(layout.tail_view_size);
      standin::FillPieces(layout, table->data(), head_page.data(), tail_pages.data());
      space->Map(static_cast<uint32_t>(head), head_page);
      if (tail != 0)
        space->Map(static_cast<uint32_t>(tail), tail_pages);
    }
    return true;
  }
  bool Unmap(uintptr_t process, uintptr_t head, uintptr_t tail) override {
    auto it = mapped.find(head);
    EXPECT_NE(it, mapped.end()) << "unmapped something never mapped";
    if (refuse_unmap || it == mapped.end())
      return false;
    EXPECT_EQ(it->second.process, process);
    EXPECT_EQ(it->second.tail, tail);
    mapped.erase(it);
    unmapped.push_back(head);
    return true;
  }
  void Drop(uintptr_t process) override { dropped.push_back(process); }

 private:
  uintptr_t next_ = 0;
};

TableImage Facts(uint32_t length) {
  TableImage facts;
  facts.length = length;
  facts.structure_count = 41;
  facts.max_structure_size = 0x99;
  facts.table_address = 0x000F1234;
  facts.version = 0x0207;
  return facts;
}

Config Settings(uint32_t offset = 0, FailMode fail = FailMode::kNone, uint16_t probe = 0x0101) {
  Config config;
  config.offset = offset;
  config.fail = fail;
  config.probe = probe;
  return config;
}

constexpr uintptr_t kOwner = 0x1111;
constexpr uintptr_t kProcess = 42;

// Opens are told apart by a number; each has its own book, opened on first use.
struct Rig {
  FakeMapper mapper;
  StandinDevice device;
  std::map<uintptr_t, standin::HandoutBook> books;
  explicit Rig(const Config& config, uint32_t length = 300,
               const standin::RequestCodes& codes = standin::kNtRequests)
      : device(config, Facts(length), codes, mapper) {}

  standin::HandoutBook& Book(uintptr_t open) {
    auto found = books.find(open);
    if (found == books.end()) {
      found = books
                  .emplace(std::piecewise_construct, std::forward_as_tuple(open),
                           std::forward_as_tuple())
                  .first;
      device.Open(found->second);
    }
    return found->second;
  }
  Answer Probe(uint16_t& word, uint32_t in_size = 2, uint32_t out_size = 2) {
    uint32_t returned = 0;
    return device.Control(Book(kOwner), kProcess, standin::kNtRequests.probe, &word, in_size, &word,
                          out_size, returned);
  }
  Answer Get(Descriptor& d, uintptr_t owner = kOwner, uint32_t out_size = kTableDescriptorSize,
             uint32_t in_size = 0, uintptr_t process = kProcess) {
    uint32_t returned = 0;
    const Answer a =
        device.Control(Book(owner), process, standin::kNtRequests.get_table,
                       in_size ? d.data() : nullptr, in_size, d.data(), out_size, returned);
    EXPECT_EQ(returned, a == Answer::kDone ? kTableDescriptorSize : 0u);
    return a;
  }
  Answer Release(const Descriptor& d, uintptr_t owner = kOwner,
                 uint32_t in_size = kTableDescriptorSize, uintptr_t process = kProcess) {
    uint32_t returned = 0;
    return device.Control(Book(owner), process, standin::kNtRequests.release_table, d.data(),
                          in_size, nullptr, 0, returned);
  }
};

TEST(StandinLayout, SplitsAtThePageEnd) {
  const struct {
    uint32_t offset, length, head, tail, tail_view;
  } cases[] = {
      {0, 0, 0, 0, 0},
      {0, 100, 100, 0, 0},
      {0, 4096, 4096, 0, 0},
      {0, 4097, 4096, 1, 4096},
      {96, 4000, 4000, 0, 0},
      {96, 4001, 4000, 1, 4096},
      {4000, 300, 96, 204, 4096},
      {4095, 1, 1, 0, 0},
      {4095, 2, 1, 1, 4096},
      {4095, 8194, 1, 8193, 12288},
      {100, 65535, 3996, 61539, 65536},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " length " << c.length);
    const TableLayout layout = standin::PlanTableLayout(c.offset, c.length);
    EXPECT_EQ(layout.offset, c.offset);
    EXPECT_EQ(layout.head_length, c.head);
    EXPECT_EQ(layout.tail_length, c.tail);
    EXPECT_EQ(layout.head_view_size, c.length ? kTablePageSize : 0);
    EXPECT_EQ(layout.tail_view_size, c.tail_view);
  }
}

TEST(StandinLayout, PiecesPutTogetherGiveTheTableAtEveryOffset) {
  Bytes table(9000);
  for (size_t i = 0; i < table.size(); ++i)
    table[i] = static_cast<uint8_t>(i * 7 + 3);
  for (uint32_t length : {1u, 300u, 4096u, 9000u}) {
    for (uint32_t offset = 0; offset < kTablePageSize; ++offset) {
      const TableLayout layout = standin::PlanTableLayout(offset, length);
      Bytes head(layout.head_view_size), tail(layout.tail_view_size);
      standin::FillPieces(layout, table.data(), head.data(), tail.data());
      // What a reader does with two pieces: the bytes to the page's end, then the second piece.
      Bytes joined(head.begin() + offset, head.begin() + offset + layout.head_length);
      joined.insert(joined.end(), tail.begin(), tail.begin() + layout.tail_length);
      ASSERT_EQ(joined, Bytes(table.begin(), table.begin() + length))
          << "offset " << offset << " length " << length;
      ASSERT_EQ(layout.tail_length > 0, offset + length > kTablePageSize);
    }
  }
}

TEST(StandinDevice, ProbeAnswersTheConfiguredWordWhateverArrives) {
  for (uint16_t configured : {0x0101, 0x0001, 0x0000, 0xFFFF}) {
    Rig rig(Settings(0, FailMode::kNone, configured));
    for (uint16_t arriving : {0x0000, 0xFFFF, 0x0101}) {
      uint16_t word = arriving;
      ASSERT_EQ(rig.Probe(word), Answer::kDone);
      EXPECT_EQ(word, configured);
    }
  }
}

TEST(StandinDevice, RefusesBuffersOfTheWrongSize) {
  Rig rig(Settings());
  uint16_t word = 0;
  EXPECT_EQ(rig.Probe(word, 1, 2), Answer::kWrongSize);
  EXPECT_EQ(rig.Probe(word, 2, 4), Answer::kWrongSize);
  EXPECT_EQ(rig.Probe(word, 0, 2), Answer::kWrongSize);
  uint32_t returned = 7;
  EXPECT_EQ(rig.device.Control(rig.Book(kOwner), kProcess, kNtProbeRequest, nullptr, 2, &word, 2,
                               returned),
            Answer::kWrongSize);
  EXPECT_EQ(returned, 0u);

  Descriptor d{};
  EXPECT_EQ(rig.Get(d, kOwner, kTableDescriptorSize - 1), Answer::kWrongSize);
  EXPECT_EQ(rig.Get(d, kOwner, kTableDescriptorSize + 1), Answer::kWrongSize);
  EXPECT_EQ(rig.Get(d, kOwner, kTableDescriptorSize, 4), Answer::kWrongSize);
  EXPECT_TRUE(rig.mapper.mapped.empty());

  ASSERT_EQ(rig.Get(d), Answer::kDone);
  EXPECT_EQ(rig.Release(d, kOwner, kTableDescriptorSize - 1), Answer::kWrongSize);
  EXPECT_EQ(rig.mapper.mapped.size(), 1u) << "a refused release unmaps nothing";
  EXPECT_EQ(rig.Release(d), Answer::kDone);
}

TEST(StandinDevice, OnlyTheOwnFamilysCodesAreAnswered) {
  Rig rig(Settings(), 300, standin::kVxdRequests);
  uint16_t word = 0;
  uint32_t returned = 0;
  EXPECT_EQ(rig.Probe(word), Answer::kUnknownRequest);  // the NT code
  EXPECT_EQ(rig.device.Control(rig.Book(0), 0, kVxdProbeRequest, &word, 2, &word, 2, returned),
            Answer::kDone);
  EXPECT_EQ(word, 0x0101);
}

TEST(StandinDevice, DescriptorDescribesTheMappedTable) {
  Rig rig(Settings(96));
  Descriptor d{};
  ASSERT_EQ(rig.Get(d), Answer::kDone);
  ASSERT_EQ(rig.mapper.mapped.size(), 1u);
  const uintptr_t head = rig.mapper.mapped.begin()->first;
  const DmiTableDescriptor f = DmiTableDescriptor::Decode(d.data());
  EXPECT_EQ(f.FirstPiece, head + 96);
  EXPECT_EQ(f.SecondPiece, 0u) << "96 + 300 bytes fit the page";
  EXPECT_EQ(f.StructureCount, 41);
  EXPECT_EQ(f.MaxStructureSize, 0x99);
  EXPECT_EQ(f.TableLength, 300u);
  EXPECT_EQ(f.DriverValue1, 0x000F1234u);
  EXPECT_EQ(f.DriverValue3, 0x0207);
  EXPECT_EQ(rig.mapper.mapped.begin()->second.process, kProcess);
}

TEST(StandinDevice, TwoPiecesAreNotAdjacent) {
  Rig rig(Settings(4000));
  Descriptor d{};
  ASSERT_EQ(rig.Get(d), Answer::kDone);
  const DmiTableDescriptor f = DmiTableDescriptor::Decode(d.data());
  const uintptr_t head = rig.mapper.mapped.begin()->first;
  EXPECT_EQ(f.FirstPiece, head + 4000);
  EXPECT_EQ(f.SecondPiece, rig.mapper.mapped.begin()->second.tail);
  EXPECT_NE(f.SecondPiece, head + kTablePageSize);
}

TEST(StandinDevice, RefusesATailRightBehindTheHeadPage) {
  Rig rig(Settings(4000));
  rig.mapper.adjacent = true;
  Descriptor d{};
  EXPECT_EQ(rig.Get(d), Answer::kAdjacentPieces);
  EXPECT_TRUE(rig.mapper.mapped.empty());
  EXPECT_EQ(rig.device.outstanding(), 0u);
}

TEST(StandinDevice, EachFailModeFailsItsRequestOnly) {
  for (FailMode mode : {FailMode::kProbe, FailMode::kTable, FailMode::kRelease}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Rig rig(Settings(4000, mode));
    uint16_t word = 0;
    EXPECT_EQ(rig.Probe(word) == Answer::kFailing, mode == FailMode::kProbe);
    Descriptor d{};
    const Answer got = rig.Get(d);
    EXPECT_EQ(got == Answer::kFailing, mode == FailMode::kTable);
    if (got != Answer::kDone) {
      EXPECT_TRUE(rig.mapper.mapped.empty());
      continue;
    }
    EXPECT_EQ(rig.Release(d) == Answer::kFailing, mode == FailMode::kRelease);
    // A failing release still unmaps: the caller will not send it again.
    EXPECT_TRUE(rig.mapper.mapped.empty());
    EXPECT_EQ(rig.Release(d), Answer::kNotHandedOut);
  }
}

TEST(StandinDevice, ReleasesOnlyWhatItHandedOut) {
  Rig rig(Settings(4000));
  Descriptor d{};
  ASSERT_EQ(rig.Get(d), Answer::kDone);
  for (size_t at : {kDescFirstPiece, kDescSecondPiece, kDescStructureCount, kDescDriverValue1,
                    kDescTableLength, kDescDriverValue2, kDescDriverValue3, kDescUnnamed + 1}) {
    Descriptor changed = d;
    changed[at] ^= 0x01;
    EXPECT_EQ(rig.Release(changed), Answer::kNotHandedOut) << "byte " << at;
  }
  EXPECT_EQ(rig.Release(d, kOwner + 1), Answer::kNotHandedOut) << "another open's descriptor";
  EXPECT_EQ(rig.Release(Descriptor{}), Answer::kNotHandedOut);
  EXPECT_EQ(rig.mapper.mapped.size(), 1u);
  EXPECT_EQ(rig.Release(d), Answer::kDone);
  EXPECT_TRUE(rig.mapper.mapped.empty());
  EXPECT_EQ(rig.Release(d), Answer::kNotHandedOut) << "released twice";
}

// One open that holds all it may hold stops no other: each open has its own book.
TEST(StandinDevice, AFullBookRefusesMoreToItsOpenOnlyUntilOneIsReleased) {
  Rig rig(Settings());
  std::vector<Descriptor> handed(standin::HandoutBook::kCapacity);
  for (Descriptor& d : handed)
    ASSERT_EQ(rig.Get(d), Answer::kDone);
  Descriptor extra{};
  EXPECT_EQ(rig.Get(extra), Answer::kTooManyTables);
  EXPECT_EQ(rig.mapper.mapped.size(), standin::HandoutBook::kCapacity) << "nothing more mapped";
  Descriptor other{};
  EXPECT_EQ(rig.Get(other, kOwner + 1), Answer::kDone) << "another open";
  EXPECT_EQ(rig.device.outstanding(), standin::HandoutBook::kCapacity + 1);
  ASSERT_EQ(rig.Release(handed[5]), Answer::kDone);
  EXPECT_EQ(rig.Get(extra), Answer::kDone);
}

// A handle passed to another process (DuplicateHandle) reaches the same open, but the views
// live in the process that asked for them: only that process may release them, and the open's
// end unmaps each through the process it lives in.
TEST(StandinDevice, OnlyTheProcessATableLivesInMayReleaseIt) {
  Rig rig(Settings(4000));
  Descriptor a{}, b{};
  ASSERT_EQ(rig.Get(a, kOwner, kTableDescriptorSize, 0, kProcess), Answer::kDone);
  ASSERT_EQ(rig.Get(b, kOwner, kTableDescriptorSize, 0, kProcess + 1), Answer::kDone);
  EXPECT_EQ(rig.Release(a, kOwner, kTableDescriptorSize, kProcess + 1), Answer::kOtherProcess);
  EXPECT_EQ(rig.mapper.mapped.size(), 2u) << "a refused release unmaps nothing";
  EXPECT_EQ(rig.Release(a, kOwner, kTableDescriptorSize, kProcess), Answer::kDone);
  EXPECT_EQ(rig.Release(a, kOwner, kTableDescriptorSize, kProcess + 1), Answer::kNotHandedOut);
  rig.device.Close(rig.Book(kOwner));  // sent from whichever process closed the last handle
  EXPECT_TRUE(rig.mapper.mapped.empty()) << "the fake checks each unmap's process";
  EXPECT_EQ(rig.mapper.unmapped.size(), 2u);
}

// The views stay mapped when the kernel cannot reach their process: the caller hears so, the
// handout stays for another try, and an open that ends lets go of what it cannot unmap.
TEST(StandinDevice, AReleaseThatCannotUnmapKeepsItsHandoutAndSaysSo) {
  Rig rig(Settings(4000));
  Descriptor d{};
  ASSERT_EQ(rig.Get(d), Answer::kDone);
  rig.mapper.refuse_unmap = true;
  EXPECT_EQ(rig.Release(d), Answer::kUnmapFailed);
  EXPECT_EQ(rig.device.outstanding(), 1u);
  rig.mapper.refuse_unmap = false;
  EXPECT_EQ(rig.Release(d), Answer::kDone) << "tried again";
  EXPECT_TRUE(rig.mapper.mapped.empty());

  ASSERT_EQ(rig.Get(d), Answer::kDone);
  rig.mapper.refuse_unmap = true;
  rig.device.Close(rig.Book(kOwner));
  EXPECT_EQ(rig.mapper.dropped, std::vector<uintptr_t>{kProcess});
  EXPECT_EQ(rig.device.outstanding(), 0u);
}

TEST(StandinDevice, AFailedMapLeavesNoHandout) {
  Rig rig(Settings());
  rig.mapper.fail = true;
  Descriptor d{};
  EXPECT_EQ(rig.Get(d), Answer::kMapFailed);
  EXPECT_EQ(rig.device.outstanding(), 0u);
  EXPECT_EQ(rig.Release(d), Answer::kNotHandedOut);
}

TEST(StandinDevice, AnEmptyTableMapsNothing) {
  Rig rig(Settings(), 0);
  Descriptor d;
  d.fill(0xEE);
  ASSERT_EQ(rig.Get(d), Answer::kDone);
  const DmiTableDescriptor f = DmiTableDescriptor::Decode(d.data());
  EXPECT_EQ(f.TableLength, 0u);
  EXPECT_EQ(f.FirstPiece, 0u);
  EXPECT_EQ(f.SecondPiece, 0u);
  EXPECT_TRUE(rig.mapper.mapped.empty());
  EXPECT_EQ(rig.Release(d), Answer::kNotHandedOut);
}

TEST(StandinDevice, AClosingOpenLosesItsMappingsAndOnlyThose) {
  Rig rig(Settings(4000));
  Descriptor a{}, b{}, c{};
  ASSERT_EQ(rig.Get(a, 1), Answer::kDone);
  ASSERT_EQ(rig.Get(b, 2), Answer::kDone);
  ASSERT_EQ(rig.Get(c, 1), Answer::kDone);
  rig.device.Close(rig.Book(1));
  EXPECT_EQ(rig.mapper.mapped.size(), 1u);
  EXPECT_EQ(rig.Release(b, 2), Answer::kDone);
  ASSERT_EQ(rig.Get(a, 3), Answer::kDone);
  rig.device.ReleaseAll();  // unload
  EXPECT_TRUE(rig.mapper.mapped.empty());
  EXPECT_EQ(rig.device.outstanding(), 0u);
}

// The descriptor as NT's access check reads it: every offset inside, the DACL granting every
// file right to exactly the system and the administrators.
TEST(StandinDevice, OnlyTheSystemAndAdministratorsMayOpenTheDevice) {
  uint8_t sd[standin::kDeviceSecuritySize + 1];
  sd[standin::kDeviceSecuritySize] = 0xA5;
  standin::WriteDeviceSecurity(sd);
  EXPECT_EQ(sd[standin::kDeviceSecuritySize], 0xA5) << "written past its size";
  auto le = [&](size_t at, int n) { return n == 2 ? ReadLe16(sd + at) : ReadLe32(sd + at); };
  auto sid = [&](size_t at) {
    std::string text = "S-" + std::to_string(sd[at]) + "-" + std::to_string(sd[at + 7]);
    for (uint8_t i = 0; i < sd[at + 1]; ++i)
      text += "-" + std::to_string(le(at + 8 + 4 * i, 4));
    return text;
  };
  EXPECT_EQ(sd[0], 1);
  EXPECT_EQ(le(2, 2), 0x8004u) << "self-relative, DACL present, nothing defaulted";
  EXPECT_EQ(sid(le(4, 4)), "S-1-5-32-544");
  EXPECT_EQ(sid(le(8, 4)), "S-1-5-18");
  EXPECT_EQ(le(12, 4), 0u) << "no SACL";
  const size_t acl = le(16, 4);
  EXPECT_EQ(sd[acl], 2);
  EXPECT_EQ(acl + le(acl + 2, 2), standin::kDeviceSecuritySize);
  std::vector<std::string> allowed;
  size_t ace = acl + 8;
  for (uint32_t i = 0; i < le(acl + 4, 2); ++i) {
    EXPECT_EQ(sd[ace], 0) << "access allowed";
    EXPECT_EQ(le(ace + 4, 4), standin::kFileAllAccess);
    allowed.push_back(sid(ace + 8));
    EXPECT_EQ(le(ace + 2, 2), 8u + 8u + 4u * sd[ace + 9]);
    ace += le(ace + 2, 2);
  }
  EXPECT_EQ(ace, standin::kDeviceSecuritySize);
  EXPECT_EQ(allowed, (std::vector<std::string>{"S-1-5-18", "S-1-5-32-544"}));
}

// The program's reader against the stand-in logic, through the device channel as the reader
// sees it: the board must come out whole wherever the table lies in its page.
class StandinChannel : public DmiDevice {
 public:
  explicit StandinChannel(StandinDevice& device) : device_(device) { device_.Open(book_); }
  bool IsInvalidHandle() const override { return false; }
  bool Control(uint32_t code, const void* in, uint32_t in_size, void* out,
               uint32_t out_size) override {
    uint32_t returned = 0;
    return device_.Control(book_, kProcess, code, in, in_size, out, out_size, returned) ==
           Answer::kDone;
  }

 private:
  StandinDevice& device_;
  standin::HandoutBook book_;
};

TEST(StandinDevice, TheReaderFindsTheBoardAtEveryKindOfOffset) {
  std::ifstream in(std::string(ZYN_TEST_TABLES) + "/lenovo-thinkpad-w510.bin", std::ios::binary);
  const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  smbios::TableImage image;
  ASSERT_EQ(smbios::ReadTableFile(file.data(), file.size(), image), smbios::TableProblem::kNone);
  const Bytes table(image.bytes, image.bytes + image.length);
  ASSERT_GT(table.size(), 4096u - 4000u);

  for (const auto& family : {std::make_pair(standin::kNtRequests, kNtTableRequests),
                             std::make_pair(standin::kVxdRequests, kVxdTableRequests)}) {
    for (uint32_t offset : {0u, 96u, 4000u, 4095u}) {
      SCOPED_TRACE(testing::Message() << "offset " << offset);
      SimAddressSpace space;
      FakeMapper mapper;
      mapper.table = &table;
      mapper.space = &space;
      StandinDevice device(Settings(offset), image, family.first, mapper);
      StandinChannel channel(device);
      SimAllocator memory;
      SimDebugOutput debug;
      BoardIdentity identity{};
      ResetDmiReaderState();
      EXPECT_EQ(
          ReadBoardIdentity(DmiPlatform{channel, space, memory, debug}, family.second, identity),
          kDmiStatusOk);
      EXPECT_STREQ(identity.manufacturer, "LENOVO");
      EXPECT_STREQ(identity.product, "431924G");
      EXPECT_EQ(device.outstanding(), 0u) << "the reader's release was accepted";
      EXPECT_TRUE(mapper.mapped.empty());
    }
  }
  ResetDmiReaderState();
}

}  // namespace
