// What both stand-ins answer on their device channel, apart from how they make memory readable
// to the caller: the probe word, the table descriptor, the two-piece layout of the table around
// its page's end, and the book of descriptors handed out and not yet released.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "config.h"
#include "protocol/device_protocol.h"
#include "table_image.h"

namespace standin {

// How a table of `length` bytes starting `offset` bytes into a page splits: the head lies in
// that page, the tail (when the table runs past the page) in pages of its own.
struct TableLayout {
  uint32_t offset = 0;
  uint32_t head_length = 0;
  uint32_t tail_length = 0;
  uint32_t head_view_size = 0;  // one page, or 0 for an empty table
  uint32_t tail_view_size = 0;  // the tail rounded up to whole pages; 0 when there is no tail
};

TableLayout PlanTableLayout(uint32_t offset, uint32_t length);

// Copies the table into a zeroed head page (at the layout's offset) and tail pages.
void FillPieces(const TableLayout& layout, const uint8_t* table, uint8_t* head_page,
                uint8_t* tail_pages);

// Addresses are the caller's; `owner` is what a handout belongs to (an open of the device) and
// `process` the address space its views live in.
struct Handout {
  uintptr_t owner = 0;
  uintptr_t process = 0;
  uintptr_t head_view = 0;
  uintptr_t tail_view = 0;
  uint8_t descriptor[kTableDescriptorSize] = {};
};

class HandoutBook {
 public:
  static constexpr size_t kCapacity = 16;

  bool Add(const Handout& handout);
  // Removes and returns the handout whose owner and all 28 descriptor bytes match.
  bool Take(uintptr_t owner, const uint8_t* descriptor, Handout& taken);
  // Removes and returns any handout of `owner` (any at all with `any_owner`).
  bool TakeOneOf(uintptr_t owner, bool any_owner, Handout& taken);
  size_t count() const;

 private:
  Handout entries_[kCapacity];
  bool used_[kCapacity] = {};
};

// Makes the table readable in a caller's address space, and undoes it. Each stand-in has its
// own: sections mapped into the calling process, or blocks of the caller's own memory.
class TableMapper {
 public:
  // Maps the head page (layout.head_view_size bytes) and, when there is a tail, the tail pages
  // at an address that does not follow the head page, both read-only. False leaves nothing
  // mapped.
  virtual bool Map(uintptr_t process, const TableLayout& layout, uintptr_t& head_view,
                   uintptr_t& tail_view);
  virtual void Unmap(uintptr_t process, uintptr_t head_view, uintptr_t tail_view);

 protected:
  ~TableMapper() = default;
};

struct RequestCodes {
  uint32_t probe;
  uint32_t get_table;
  uint32_t release_table;
};
inline constexpr RequestCodes kNtRequests{kNtProbeRequest, kNtGetTableRequest,
                                          kNtReleaseTableRequest};
inline constexpr RequestCodes kVxdRequests{kVxdProbeRequest, kVxdGetTableRequest,
                                           kVxdReleaseTableRequest};

enum class Answer : uint8_t {
  kDone,
  kUnknownRequest,
  kWrongSize,     // an input or output buffer of the wrong size (or missing)
  kFailing,       // the configuration makes this request fail
  kNotHandedOut,  // a release of a descriptor this device did not hand to this owner
  kMapFailed,
  kTooManyTables,  // the book is full: every handout is still mapped
  kAdjacentPieces  // the mapper put the tail right behind the head page
};

const char* DescribeAnswer(Answer answer);

struct TableFacts {
  uint32_t length = 0;
  uint16_t structure_count = 0;
  uint16_t max_structure_size = 0;
  uint32_t table_address = 0;
  uint16_t version = 0;
};

TableFacts FactsOf(const TableImage& image);

class StandinDevice {
 public:
  StandinDevice(const Config& config, const TableFacts& table, const RequestCodes& codes,
                TableMapper& mapper);

  // One request. `in` and `out` may be the same buffer (METHOD_BUFFERED); `returned` gets the
  // byte count written to `out`.
  Answer Control(uintptr_t owner, uintptr_t process, uint32_t code, const void* in,
                 uint32_t in_size, void* out, uint32_t out_size, uint32_t& returned);

  // Unmaps whatever `owner` still holds (its handle is closing), or everything (unload).
  void ReleaseOwner(uintptr_t owner);
  void ReleaseAll();

  const TableLayout& layout() const { return layout_; }
  size_t outstanding() const { return book_.count(); }

 private:
  Answer GetTable(uintptr_t owner, uintptr_t process, uint8_t* out);
  Answer ReleaseTable(uintptr_t owner, const uint8_t* in);
  void Drop(uintptr_t owner, bool any_owner);

  uint16_t probe_;
  FailMode fail_;
  TableFacts table_;
  TableLayout layout_;
  RequestCodes codes_;
  TableMapper& mapper_;
  HandoutBook book_;
  uint32_t serial_ = 0;
};

}  // namespace standin
