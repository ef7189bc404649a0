#include "standin/core/device.h"

#include "standin/core/text.h"

namespace standin {

TableLayout PlanTableLayout(uint32_t offset, uint32_t length) {
  TableLayout layout;
  layout.offset = offset % kTablePageSize;
  if (length == 0)
    return layout;
  const TablePieces pieces = SplitAtPage(layout.offset, length);
  layout.head_length = pieces.head_length;
  layout.tail_length = pieces.tail_length;
  layout.head_view_size = kTablePageSize;
  layout.tail_view_size =
      (layout.tail_length + kTablePageSize - 1) / kTablePageSize * kTablePageSize;
  return layout;
}

void FillPieces(const TableLayout& layout, const uint8_t* table, uint8_t* head_page,
                uint8_t* tail_pages) {
  CopyBytes(head_page + layout.offset, table, layout.head_length);
  if (layout.tail_length > 0)
    CopyBytes(tail_pages, table + layout.head_length, layout.tail_length);
}

bool HandoutBook::Add(const Handout& handout) {
  for (size_t i = 0; i < kCapacity; ++i) {
    if (!used_[i]) {
      entries_[i] = handout;
      used_[i] = true;
      return true;
    }
  }
  return false;
}

HandoutBook::Taken HandoutBook::Take(uintptr_t process, const uint8_t* descriptor, Handout& taken) {
  for (size_t i = 0; i < kCapacity; ++i) {
    if (used_[i] && SameBytes(entries_[i].descriptor, descriptor, kTableDescriptorSize)) {
      if (entries_[i].process != process)
        return Taken::kOtherProcess;
      taken = entries_[i];
      used_[i] = false;
      return Taken::kTaken;
    }
  }
  return Taken::kNone;
}

bool HandoutBook::TakeAny(Handout& taken) {
  for (size_t i = 0; i < kCapacity; ++i) {
    if (used_[i]) {
      taken = entries_[i];
      used_[i] = false;
      return true;
    }
  }
  return false;
}

size_t HandoutBook::count() const {
  size_t n = 0;
  for (bool used : used_)
    n += used ? 1 : 0;
  return n;
}

namespace {

DmiTableDescriptor FactsOf(const smbios::TableImage& table) {
  DmiTableDescriptor facts;
  facts.StructureCount = table.structure_count;
  facts.MaxStructureSize = table.max_structure_size;
  facts.DriverValue1 = table.table_address;
  facts.TableLength = table.length;
  facts.DriverValue3 = table.version;
  return facts;
}

// S-1-5-18 (the system) or S-1-5-32-544 (the administrators), as NT lays a SID out.
uint8_t* WriteSid(uint8_t* out, bool administrators) {
  const uint8_t count = administrators ? 2 : 1;
  out[0] = 1;  // revision
  out[1] = count;
  FillBytes(out + 2, 0, 5);
  out[7] = 5;  // the NT authority, 6 bytes big-endian
  WriteLe32(out + 8, administrators ? 32 : 18);
  if (administrators)
    WriteLe32(out + 12, 544);
  return out + 8 + 4 * count;
}

uint8_t* WriteAllowedAce(uint8_t* out, bool administrators) {
  const uint16_t size = administrators ? 24 : 20;
  out[0] = 0;  // ACCESS_ALLOWED_ACE_TYPE
  out[1] = 0;  // no inheritance flags
  WriteLe16(out + 2, size);
  WriteLe32(out + 4, kFileAllAccess);
  WriteSid(out + 8, administrators);
  return out + size;
}

}  // namespace

void WriteDeviceSecurity(uint8_t* out) {
  constexpr uint32_t kOwner = 20, kGroup = kOwner + 16, kDacl = kGroup + 12;
  FillBytes(out, 0, kDeviceSecuritySize);
  out[0] = 1;                  // revision
  WriteLe16(out + 2, 0x8004);  // SE_SELF_RELATIVE | SE_DACL_PRESENT
  WriteLe32(out + 4, kOwner);
  WriteLe32(out + 8, kGroup);
  WriteLe32(out + 12, 0);  // no SACL
  WriteLe32(out + 16, kDacl);
  WriteSid(out + kOwner, true);
  WriteSid(out + kGroup, false);
  uint8_t* acl = out + kDacl;
  acl[0] = 2;  // ACL_REVISION
  WriteLe16(acl + 2, static_cast<uint16_t>(kDeviceSecuritySize - kDacl));
  WriteLe16(acl + 4, 2);  // two ACEs
  WriteAllowedAce(WriteAllowedAce(acl + 8, false), true);
}

bool TableMapper::Map(uintptr_t, const TableLayout&, uintptr_t&, uintptr_t&) {
  return false;
}

bool TableMapper::Unmap(uintptr_t, uintptr_t, uintptr_t) {
  return true;
}

void TableMapper::Drop(uintptr_t) {}

const char* DescribeAnswer(Answer answer) {
  // In the order of Answer.
  static const char* const kTexts[] = {"done",
                                       "unknown request",
                                       "buffer of the wrong size",
                                       "failed as configured",
                                       "descriptor not handed out",
                                       "release from another process",
                                       "could not map the table",
                                       "too many tables mapped",
                                       "pieces adjacent",
                                       "could not unmap the table"};
  return TextFor<Answer::kUnmapFailed>(kTexts, answer, "unknown answer");
}

uint32_t CodeOf(Answer answer, const AnswerCodes& codes) {
  switch (answer) {
    case Answer::kDone:
      return codes.done;
    case Answer::kUnknownRequest:
      return codes.unknown_request;
    case Answer::kWrongSize:
    case Answer::kNotHandedOut:
      return codes.bad_parameter;
    case Answer::kOtherProcess:
      return codes.other_process;
    case Answer::kFailing:
    case Answer::kUnmapFailed:
      return codes.failing;
    default:
      return codes.no_resources;
  }
}

StandinDevice::StandinDevice(const Config& config, const smbios::TableImage& table,
                             const RequestCodes& codes, TableMapper& mapper)
    : probe_(config.probe),
      fail_(config.fail),
      facts_(FactsOf(table)),
      layout_(PlanTableLayout(config.offset, table.length)),
      codes_(codes),
      mapper_(mapper) {}

void StandinDevice::Open(HandoutBook& book) {
  if (book.listed_)
    return;
  book.previous_ = nullptr;
  book.next_ = books_;
  if (books_ != nullptr)
    books_->previous_ = &book;
  books_ = &book;
  book.listed_ = true;
}

void StandinDevice::Close(HandoutBook& book) {
  Handout handout;
  while (book.TakeAny(handout))
    UnmapOrDrop(handout);
  if (!book.listed_)
    return;
  if (book.previous_ != nullptr)
    book.previous_->next_ = book.next_;
  else
    books_ = book.next_;
  if (book.next_ != nullptr)
    book.next_->previous_ = book.previous_;
  book.next_ = book.previous_ = nullptr;
  book.listed_ = false;
}

void StandinDevice::ReleaseAll() {
  while (books_ != nullptr)
    Close(*books_);
}

size_t StandinDevice::outstanding() const {
  size_t n = 0;
  for (const HandoutBook* book = books_; book != nullptr; book = book->next_)
    n += book->count();
  return n;
}

Answer StandinDevice::Control(HandoutBook& book, uintptr_t process, uint32_t code, const void* in,
                              uint32_t in_size, void* out, uint32_t out_size, uint32_t& returned) {
  returned = 0;
  if (code != codes_.probe && code != codes_.get_table && code != codes_.release_table)
    return Answer::kUnknownRequest;
  if ((in_size > 0 && in == nullptr) || (out_size > 0 && out == nullptr))
    return Answer::kWrongSize;

  if (code == codes_.probe) {
    // The caller sends whatever its word held: the answer never depends on it.
    if (in_size != kProbeWordSize || out_size != kProbeWordSize)
      return Answer::kWrongSize;
    if (fail_ == FailMode::kProbe)
      return Answer::kFailing;
    WriteLe16(static_cast<uint8_t*>(out), probe_);
    returned = kProbeWordSize;
    return Answer::kDone;
  }
  if (code == codes_.get_table) {
    if (in_size != 0 || out_size != kTableDescriptorSize)
      return Answer::kWrongSize;
    if (fail_ == FailMode::kTable)
      return Answer::kFailing;
    const Answer answer = GetTable(book, process, static_cast<uint8_t*>(out));
    if (answer == Answer::kDone)
      returned = kTableDescriptorSize;
    return answer;
  }
  if (in_size != kTableDescriptorSize || out_size != 0)
    return Answer::kWrongSize;
  return ReleaseTable(book, process, static_cast<const uint8_t*>(in));
}

Answer StandinDevice::GetTable(HandoutBook& book, uintptr_t process, uint8_t* out) {
  DmiTableDescriptor fields = facts_;
  fields.DriverValue2 = ++serial_;  // no two handouts alike, even at reused addresses
  if (layout_.head_view_size == 0) {
    // An empty table: nothing to map, and the reader sends no release for it.
    fields.Encode(out);
    return Answer::kDone;
  }
  if (book.count() == HandoutBook::kCapacity)
    return Answer::kTooManyTables;
  Open(book);  // listed from its first handout on, in case the platform did not open it

  Handout handout;
  handout.process = process;
  if (!mapper_.Map(process, layout_, handout.head_view, handout.tail_view))
    return Answer::kMapFailed;
  if (layout_.tail_length > 0 && handout.tail_view == handout.head_view + kTablePageSize) {
    // A reader that ran on past the head page would find the tail there and never need the
    // second piece: not the layout this stand-in exists to present.
    UnmapOrDrop(handout);
    return Answer::kAdjacentPieces;
  }
  fields.FirstPiece = static_cast<uint32_t>(handout.head_view + layout_.offset);
  fields.SecondPiece = layout_.tail_length > 0 ? static_cast<uint32_t>(handout.tail_view) : 0;
  fields.Encode(handout.descriptor);
  book.Add(handout);
  CopyBytes(out, handout.descriptor, kTableDescriptorSize);
  return Answer::kDone;
}

Answer StandinDevice::ReleaseTable(HandoutBook& book, uintptr_t process, const uint8_t* in) {
  Handout handout;
  switch (book.Take(process, in, handout)) {
    case HandoutBook::Taken::kNone:
      return Answer::kNotHandedOut;
    case HandoutBook::Taken::kOtherProcess:
      // A handle passed on to another process: its views are not that process's to drop, and
      // the table stays mapped where it lives until its own process releases it or the open
      // ends.
      return Answer::kOtherProcess;
    case HandoutBook::Taken::kTaken:
      break;
  }
  // Unmapped even when the release is configured to fail: the caller will not send it again.
  // Views that stay mapped stay in the book, so that the caller hears of it and may try again,
  // and the open's end tries once more.
  if (!mapper_.Unmap(handout.process, handout.head_view, handout.tail_view)) {
    book.Add(handout);  // the slot it was taken from is free
    return Answer::kUnmapFailed;
  }
  return fail_ == FailMode::kRelease ? Answer::kFailing : Answer::kDone;
}

void StandinDevice::UnmapOrDrop(const Handout& handout) {
  if (!mapper_.Unmap(handout.process, handout.head_view, handout.tail_view))
    mapper_.Drop(handout.process);
}

}  // namespace standin
