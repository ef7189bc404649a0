// What both stand-ins answer on their device channel, apart from how they make memory readable
// to the caller: the probe word, the table descriptor, the two-piece layout of the table around
// its page's end, and the book of descriptors handed out and not yet released.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "standin/core/config.h"
#include "protocol/device_protocol.h"
#include "smbios/smbios_dump.h"

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

// Addresses are the caller's; `process` is what the platform names the address space the views
// were mapped into (the kernel driver: its process object, held for as long as the handout).
struct Handout {
  uintptr_t process = 0;
  uintptr_t head_view = 0;
  uintptr_t tail_view = 0;
  uint8_t descriptor[kTableDescriptorSize] = {};
};

// The handouts of one open of the device, at most kCapacity: one open that holds them all
// stops no other open. The device keeps every open book on a list, for the unload.
class HandoutBook {
 public:
  static constexpr size_t kCapacity = 16;
  enum class Taken : uint8_t { kNone, kOtherProcess, kTaken };

  bool Add(const Handout& handout);
  // Removes and returns the handout whose 28 descriptor bytes match, when it lives in
  // `process`; one that lives in another process stays (kOtherProcess).
  Taken Take(uintptr_t process, const uint8_t* descriptor, Handout& taken);
  // Removes and returns any handout.
  bool TakeAny(Handout& taken);
  size_t count() const;

 private:
  friend class StandinDevice;
  Handout entries_[kCapacity];
  bool used_[kCapacity] = {};
  HandoutBook* next_ = nullptr;
  HandoutBook* previous_ = nullptr;
  bool listed_ = false;
};

// Makes the table readable in a caller's address space, and undoes it. Each stand-in has its
// own: sections mapped into the calling process, or blocks of the caller's own memory.
class TableMapper {
 public:
  // Maps the head page (layout.head_view_size bytes) and, when there is a tail, the tail pages
  // at an address that does not follow the head page, both read-only and such that they cannot
  // be made writable. False leaves nothing mapped. A mapper that names processes by an object
  // holds it from a successful Map until the views are gone (an Unmap that answers true) or
  // nobody will try again (Drop).
  virtual bool Map(uintptr_t process, const TableLayout& layout, uintptr_t& head_view,
                   uintptr_t& tail_view);
  // True when the views are gone (unmapped, or gone with their process); false leaves them
  // mapped and the process held, so that the unmap can be tried again.
  virtual bool Unmap(uintptr_t process, uintptr_t head_view, uintptr_t tail_view);
  // Lets go of the process of views that failed to unmap and will not be tried again.
  virtual void Drop(uintptr_t process);

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
  kNotHandedOut,  // a release of a descriptor this open does not hold
  kOtherProcess,  // a release sent from another process than the one the table lives in
  kMapFailed,
  kTooManyTables,   // the book is full: every handout is still mapped
  kAdjacentPieces,  // the mapper put the tail right behind the head page
  kUnmapFailed      // a release whose views could not be unmapped: the handout stays
};

const char* DescribeAnswer(Answer answer);

// What the answers are called on a platform (NTSTATUS values for the kernel driver, Win32 error
// codes for the VxD), and the code of one answer.
struct AnswerCodes {
  uint32_t done, unknown_request, bad_parameter, other_process, failing, no_resources;
};
uint32_t CodeOf(Answer answer, const AnswerCodes& codes);

// Who may open the kernel driver's device: the system and the administrators, with every file
// right, and nobody else. A self-relative security descriptor, in the layout NT has had since
// its first release (revision 1; owner Administrators, group SYSTEM, no SACL, a revision-2 DACL
// of two access-allowed ACEs), for the kernel's access check at each open.
inline constexpr size_t kDeviceSecuritySize = 100;
inline constexpr uint32_t kFileAllAccess = 0x001F01FF;
void WriteDeviceSecurity(uint8_t* out);

class StandinDevice {
 public:
  // `table`'s bytes are not kept.
  StandinDevice(const Config& config, const smbios::TableImage& table, const RequestCodes& codes,
                TableMapper& mapper);

  // An open begins with its own empty book, and ends (its handle closing) with whatever it
  // still holds unmapped. The book must stay put in between.
  void Open(HandoutBook& book);
  void Close(HandoutBook& book);

  // One request of the open that owns `book`, sent from `process`. `in` and `out` may be the
  // same buffer (METHOD_BUFFERED); `returned` gets the byte count written to `out`.
  Answer Control(HandoutBook& book, uintptr_t process, uint32_t code, const void* in,
                 uint32_t in_size, void* out, uint32_t out_size, uint32_t& returned);

  // Closes every open still listed (unload).
  void ReleaseAll();

  const TableLayout& layout() const { return layout_; }
  size_t outstanding() const;

 private:
  Answer GetTable(HandoutBook& book, uintptr_t process, uint8_t* out);
  Answer ReleaseTable(HandoutBook& book, uintptr_t process, const uint8_t* in);
  // For views nobody will ask to release again: unmapped if they can be, else let go of.
  void UnmapOrDrop(const Handout& handout);

  uint16_t probe_;
  FailMode fail_;
  // What every descriptor says of the table. Only these facts are kept: the platform may free
  // the table's bytes once they are where the mapper serves them from.
  DmiTableDescriptor facts_;
  TableLayout layout_;
  RequestCodes codes_;
  TableMapper& mapper_;
  HandoutBook* books_ = nullptr;  // every open book
  uint32_t serial_ = 0;
};

}  // namespace standin
