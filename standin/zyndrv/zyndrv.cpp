// ZYNDRV.sys: a stand-in for the outside kernel driver, so the program's NT road can run end to
// end. It answers the three requests of the device channel from a configuration file beside its
// image (zyndrv.cfg, see core/config.h) or, without one, from the firmware's own SMBIOS table.
//
// Plain NT kernel code: it imports from ntoskrnl.exe only and links no C runtime. The table is
// written once at start into a file of its own (its head page, and the rest 64 KiB on), held
// open without write sharing and deleted when the driver goes, and a read-only section of that
// file is what every caller is shown: no view of a read-only section can be made writable, so no
// caller can change the table another is shown. Each get-table request maps views of it into
// the calling process: the head at the configured offset of its page, the rest at an address of
// its own, so a table that runs past the page arrives in two pieces that are not adjacent.
//
// Who may do what: only the system and administrators may open the device (checked at each
// open); each open has its own book of handouts; a handout is tied to the process object it was
// mapped into, held until it is unmapped through that very object, and only that process may
// release it.

// In C++ the DDK header and the compiler's intrinsics header both define these two; take the
// compiler's.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntifs.h>
#include <stddef.h>

#include <new>

#include "standin/core/config.h"
#include "standin/core/load_startup.h"
#include "standin/core/device.h"
#include "smbios/smbios_dump.h"
#include "standin/core/table_path.h"
#include "standin/core/text.h"
#include "runtime/owner.h"

extern "C" NTSYSAPI NTSTATUS NTAPI ZwQuerySystemInformation(ULONG information_class,
                                                            PVOID information, ULONG length,
                                                            PULONG returned);

namespace {

constexpr ULONG kPoolTag = 0x206E795A;  // "Zyn "
constexpr ULONG kSystemFirmwareTableInformation = 76;
constexpr ULONG kRawSmbiosProvider = 0x52534D42;  // 'RSMB'
constexpr ACCESS_MASK kProcessVmOperation = 0x0008;
// The tail pages lie this far into the table's file, so that a view of them starts on the
// allocation granularity every NT release asks of a section offset.
constexpr ULONG kTailFileOffset = 0x10000;
constexpr char kConfigName[] = "zyndrv.cfg";

void Say(const char* text) {
  DbgPrint("ZYNDRV: %s\n", text);
}

// Blocks of paged pool, kernel handles and referenced process objects, each released once by
// its owner.
struct PoolKind {
  using Handle = void*;
  static void* Empty() { return nullptr; }
  static bool Holds(void* block) { return block != nullptr; }
  void Release(void* block) const { ExFreePool(block); }
};
using PoolBlock = zynrt::Owner<PoolKind>;

// Object attributes a kernel may not know: OBJ_KERNEL_HANDLE came with Windows 2000 and
// OBJ_FORCE_ACCESS_CHECK with XP, and an older object manager refuses an open that asks for
// either as an invalid parameter. Found out at the first open that meets the refusal, then left
// out; DriverEntry runs in the system process, where every handle is the kernel's anyway.
ULONG g_unknown_attributes = 0;

ULONG Known(ULONG attributes) {
  return attributes & ~g_unknown_attributes;
}

// Without OBJ_KERNEL_HANDLE (NT 4.0) a handle lands in the table of whichever process is
// current: in a request, the caller's, whose threads could close it and reuse its number for a
// handle to another process while the driver is still using it.
bool HandlesAreKernelOnly() {
  return (g_unknown_attributes & OBJ_KERNEL_HANDLE) == 0;
}

// Runs `open` (which builds its attributes with Known) and, when the kernel refuses the
// attributes, once more without those it may not know.
template <class Open>
NTSTATUS OpenWithKnownAttributes(ULONG newest, Open open) {
  NTSTATUS status = open();
  if (status == STATUS_INVALID_PARAMETER && (newest & ~g_unknown_attributes) != 0) {
    g_unknown_attributes |= newest;
    status = open();
  }
  return status;
}

void* AllocatePool(ULONG size) {
  return ExAllocatePoolWithTag(PagedPool, size == 0 ? 1 : size, kPoolTag);
}

// A handle of the kernel's object manager, closed with ZwClose.
struct ZwHandleKind {
  using Handle = HANDLE;
  static HANDLE Empty() { return nullptr; }
  static bool Holds(HANDLE handle) { return handle != nullptr; }
  void Release(HANDLE handle) const { ZwClose(handle); }
};
using ZwHandle = zynrt::Owner<ZwHandleKind>;

struct ProcessKind {
  using Handle = PEPROCESS;
  static PEPROCESS Empty() { return nullptr; }
  static bool Holds(PEPROCESS process) { return process != nullptr; }
  void Release(PEPROCESS process) const { ObDereferenceObject(process); }
};
using ProcessObject = zynrt::Owner<ProcessKind>;

bool Succeeded(NTSTATUS status, const char* what) {
  if (!NT_SUCCESS(status))
    DbgPrint("ZYNDRV: %s: status 0x%08lx\n", what, static_cast<ULONG>(status));
  return NT_SUCCESS(status);
}

// The image path the service manager registered, as a native path ("\??\C:\...\ZYNDRV.sys").
bool FindImagePath(PUNICODE_STRING registry_path, char* out, size_t out_size) {
  const char* fallback = "system32\\drivers\\ZYNDRV.sys";
  ZwHandle key;
  const NTSTATUS opened = OpenWithKnownAttributes(OBJ_KERNEL_HANDLE | OBJ_FORCE_ACCESS_CHECK, [&] {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, registry_path,
                               Known(OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE), nullptr, nullptr);
    return ZwOpenKey(key.receive(), KEY_READ, &attributes);
  });
  if (!NT_SUCCESS(opened))
    return standin::ToNativePath(fallback, out, out_size);

  UNICODE_STRING value_name;
  RtlInitUnicodeString(&value_name, L"ImagePath");
  constexpr ULONG value_size = sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 2 * standin::kMaxPath;
  PoolBlock value(AllocatePool(value_size));
  ULONG length = 0;
  if (!value.holds() ||
      !NT_SUCCESS(ZwQueryValueKey(key.get(), &value_name, KeyValuePartialInformation, value.get(),
                                  value_size, &length)))
    return standin::ToNativePath(fallback, out, out_size);
  const auto* info = static_cast<const KEY_VALUE_PARTIAL_INFORMATION*>(value.get());
  if (info->Type != REG_SZ && info->Type != REG_EXPAND_SZ)
    return standin::ToNativePath(fallback, out, out_size);

  UNICODE_STRING wide;
  wide.Buffer = reinterpret_cast<PWCH>(const_cast<UCHAR*>(info->Data));
  ULONG bytes = info->DataLength & ~1u;
  while (bytes >= 2 && wide.Buffer[bytes / 2 - 1] == L'\0')
    bytes -= 2;
  wide.Length = wide.MaximumLength = static_cast<USHORT>(bytes);
  ANSI_STRING narrow;
  if (!NT_SUCCESS(RtlUnicodeStringToAnsiString(&narrow, &wide, TRUE)))
    return false;
  char plain[standin::kMaxPath];
  standin::TextWriter w(plain, sizeof plain);
  const char* text = narrow.Buffer;
  size_t n = narrow.Length;
  if (n >= 2 && text[0] == '"' && text[n - 1] == '"') {  // a quoted path
    ++text;
    n -= 2;
  }
  w.Add(text, n);
  RtlFreeAnsiString(&narrow);
  return w.complete() && standin::ToNativePath(plain, out, out_size);
}

// Files and the firmware's table for the start-up, in paged pool until the table's own file
// is written.
class KernelFiles : public standin::FileReader {
 public:
  // The firmware table interface where the kernel has it (Vista and later, Server 2003 SP1,
  // Wine); else (NT 4.0 to XP) the entry point the firmware publishes in physical memory.
  bool ReadFirmware(const uint8_t*& bytes, uint32_t& size) override {
    const NTSTATUS status = QueryFirmwareTable(bytes, size);
    if (NT_SUCCESS(status))
      return true;
    DbgPrint("ZYNDRV: the firmware table interface: status 0x%08lx; looking in physical memory\n",
             static_cast<ULONG>(status));
    FirmwareMemory memory(table_);
    smbios::TableProblem problem = smbios::TableProblem::kNone;
    if (standin::CopyFirmwareTable(memory, bytes, size, problem))
      return true;
    Say(problem != smbios::TableProblem::kNone ? smbios::DescribeTableProblem(problem)
                                               : "the firmware's memory cannot be mapped");
    return false;
  }

 private:
  // Physical memory mapped with MmMapIoSpace (which NT 4.0 exports), only ever read; the copy
  // goes into the table slot.
  class FirmwareMemory : public standin::PhysicalMemory {
   public:
    explicit FirmwareMemory(PoolBlock& copy) : copy_(copy) {}
    const uint8_t* Map(uint32_t address, uint32_t length) override {
      PHYSICAL_ADDRESS physical;
      physical.QuadPart = address;
      return static_cast<const uint8_t*>(MmMapIoSpace(physical, length, MmCached));
    }
    void Unmap(const uint8_t* mapped, uint32_t length) override {
      MmUnmapIoSpace(const_cast<uint8_t*>(mapped), length);
    }
    uint8_t* Allocate(uint32_t size) override {
      copy_.Reset(AllocatePool(size));
      return static_cast<uint8_t*>(copy_.get());
    }

   private:
    PoolBlock& copy_;
  };

  NTSTATUS QueryFirmwareTable(const uint8_t*& bytes, uint32_t& size) {
    constexpr ULONG header = offsetof(SYSTEM_FIRMWARE_TABLE_INFORMATION, TableBuffer);
    ULONG need = 0;
    NTSTATUS status = STATUS_BUFFER_TOO_SMALL;
    for (int attempt = 0; attempt < 3 && status == STATUS_BUFFER_TOO_SMALL; ++attempt) {
      table_.Reset(AllocatePool(header + need));
      if (!table_.holds())
        return STATUS_INSUFFICIENT_RESOURCES;
      auto* info = static_cast<SYSTEM_FIRMWARE_TABLE_INFORMATION*>(table_.get());
      info->ProviderSignature = kRawSmbiosProvider;
      info->Action = SystemFirmwareTable_Get;
      info->TableID = 0;
      info->TableBufferLength = need;
      ULONG returned = 0;
      status =
          ZwQuerySystemInformation(kSystemFirmwareTableInformation, info, header + need, &returned);
      if (status == STATUS_BUFFER_TOO_SMALL) {
        // The size needed arrives in the record, the whole answer's size in `returned`: take
        // whichever is larger.
        need = info->TableBufferLength;
        if (returned > header && returned - header > need)
          need = returned - header;
      }
    }
    if (!NT_SUCCESS(status))
      return status;
    const auto* info = static_cast<const SYSTEM_FIRMWARE_TABLE_INFORMATION*>(table_.get());
    bytes = info->TableBuffer;
    size = info->TableBufferLength < need ? info->TableBufferLength : need;
    return STATUS_SUCCESS;
  }

 protected:
  Result Open(const char* path) override {
    ANSI_STRING ansi;
    UNICODE_STRING name;
    if (!standin::ToNativePath(path, native_, sizeof native_))
      return Result::kFailed;
    RtlInitAnsiString(&ansi, native_);
    if (!NT_SUCCESS(RtlAnsiStringToUnicodeString(&name, &ansi, TRUE)))
      return Result::kFailed;
    // Opened with the access check a program's open would get (OBJ_FORCE_ACCESS_CHECK), not on
    // the kernel's word alone, where the kernel knows that check.
    IO_STATUS_BLOCK io;
    const NTSTATUS status = OpenWithKnownAttributes(OBJ_FORCE_ACCESS_CHECK, [&] {
      OBJECT_ATTRIBUTES attributes;
      InitializeObjectAttributes(
          &attributes, &name,
          Known(OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE | OBJ_FORCE_ACCESS_CHECK), nullptr,
          nullptr);
      return ZwCreateFile(file_.receive(), GENERIC_READ | SYNCHRONIZE, &attributes, &io, nullptr,
                          FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, FILE_OPEN,
                          FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0);
    });
    RtlFreeUnicodeString(&name);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND || status == STATUS_OBJECT_PATH_NOT_FOUND ||
        status == STATUS_NO_SUCH_FILE)
      return Result::kMissing;
    return Succeeded(status, native_) ? Result::kRead : Result::kFailed;
  }

  bool Size(uint32_t& low, uint32_t& high) override {
    IO_STATUS_BLOCK io;
    FILE_STANDARD_INFORMATION info;
    if (!Succeeded(
            ZwQueryInformationFile(file_.get(), &io, &info, sizeof info, FileStandardInformation),
            native_))
      return false;
    low = info.EndOfFile.LowPart;
    high = static_cast<uint32_t>(info.EndOfFile.HighPart);
    return true;
  }

  uint32_t Read(uint8_t* to, uint32_t at, uint32_t count) override {
    IO_STATUS_BLOCK io;
    LARGE_INTEGER offset;
    offset.QuadPart = at;
    return Succeeded(
               ZwReadFile(file_.get(), nullptr, nullptr, nullptr, &io, to, count, &offset, nullptr),
               native_)
               ? static_cast<uint32_t>(io.Information)
               : 0;
  }

  void Close() override { file_.Reset(); }

  uint8_t* Allocate(Slot slot, uint32_t size) override {
    PoolBlock& block = slot == Slot::kConfig ? config_ : table_;
    block.Reset(AllocatePool(size));
    return static_cast<uint8_t*>(block.get());
  }

 private:
  ZwHandle file_;
  PoolBlock config_;
  PoolBlock table_;  // the table file or the firmware's answer
  char native_[standin::kMaxPath] = {};
};

// The start-up's work, in paged pool: DriverEntry's stack is small.
struct StartWork {
  KernelFiles files;
  standin::Startup startup;
  char image_path[standin::kMaxPath] = {};
  char native_folder[standin::kMaxPath] = {};
};

// The table's pages in a file of their own in the system's temporary folder (or, where the host
// has no \SystemRoot, as Wine's has not, in the driver's own folder), under a name nobody can
// foresee (see NameDraw), so that files created there beforehand cannot stop the start, and
// FILE_CREATE never opens what is there, so no file or link planted under a name is followed.
// The handle that wrote it stays open without write or delete sharing, so nobody else can change
// or replace it, and the file goes when the driver does. The section is made from a second,
// read-only open: a host that maps a file through its open's own rights (as Wine does) then has
// no writable file behind any view either.
class TableStore {
 public:
  bool Create(PDRIVER_OBJECT driver, const char* own_folder, const standin::TableLayout& layout,
              const uint8_t* table) {
    standin::NameDraw draw;
    draw.Mix(reinterpret_cast<uintptr_t>(driver));
    draw.Mix(reinterpret_cast<uintptr_t>(&draw));  // where this stack lies
    const ULONG size = layout.head_view_size + layout.tail_view_size;
    PoolBlock block(AllocatePool(size));
    auto* pages = static_cast<uint8_t*>(block.get());
    if (pages == nullptr)
      return false;
    draw.Mix(reinterpret_cast<uintptr_t>(pages));
    standin::FillBytes(pages, 0, size);
    standin::FillPieces(layout, table, pages, pages + layout.head_view_size);
    NTSTATUS status = STATUS_OBJECT_PATH_NOT_FOUND;
    const char* const folders[] = {"\\SystemRoot\\Temp\\", own_folder};
    for (const char* folder : folders) {
      if (status != STATUS_OBJECT_PATH_NOT_FOUND)
        break;
      status = STATUS_OBJECT_NAME_COLLISION;
      for (uint32_t attempt = 0;
           attempt < standin::kTableFileAttempts && status == STATUS_OBJECT_NAME_COLLISION;
           ++attempt)
        status = CreateNew(folder, Draw(draw));
    }
    if (NT_SUCCESS(status))
      status = Write(pages, layout.head_view_size, 0);
    if (NT_SUCCESS(status) && layout.tail_view_size > 0)
      status = Write(pages + layout.head_view_size, layout.tail_view_size, kTailFileOffset);
    ZwHandle reader;
    if (NT_SUCCESS(status))
      status = Open(reader, GENERIC_READ | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0);
    if (NT_SUCCESS(status)) {
      OBJECT_ATTRIBUTES attributes;
      InitializeObjectAttributes(&attributes, nullptr, Known(OBJ_KERNEL_HANDLE), nullptr, nullptr);
      status = ZwCreateSection(section_.receive(), SECTION_MAP_READ | SECTION_QUERY, &attributes,
                               nullptr, PAGE_READONLY, SEC_COMMIT, reader.get());
    }
    if (!NT_SUCCESS(status))
      DbgPrint("ZYNDRV: the table's file %s: status 0x%08lx\n", name_, static_cast<ULONG>(status));
    return NT_SUCCESS(status);
  }

  HANDLE section() const { return section_.get(); }

 private:
  // Fresh readings for every attempt: the performance counter (the HAL's finest clock, which
  // moves between attempts) and the system time.
  static uint64_t Draw(standin::NameDraw& draw) {
    draw.Mix(static_cast<uint64_t>(KeQueryPerformanceCounter(nullptr).QuadPart));
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    draw.Mix(static_cast<uint64_t>(now.QuadPart));
    return draw.Next();
  }

  NTSTATUS CreateNew(const char* folder, uint64_t draw) {
    if (!standin::TableFileName(folder, draw, name_, sizeof name_))
      return STATUS_NAME_TOO_LONG;
    return Open(writer_, GENERIC_READ | GENERIC_WRITE | DELETE | SYNCHRONIZE, FILE_SHARE_READ,
                FILE_CREATE, FILE_DELETE_ON_CLOSE);
  }

  NTSTATUS Open(ZwHandle& file, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options) {
    ANSI_STRING ansi;
    RtlInitAnsiString(&ansi, name_);
    UNICODE_STRING wide;
    NTSTATUS status = RtlAnsiStringToUnicodeString(&wide, &ansi, TRUE);
    if (!NT_SUCCESS(status))
      return status;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &wide, Known(OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE),
                               nullptr, nullptr);
    IO_STATUS_BLOCK io;
    status = ZwCreateFile(
        file.receive(), access, &attributes, &io, nullptr, FILE_ATTRIBUTE_TEMPORARY, share,
        disposition, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE | options, nullptr, 0);
    RtlFreeUnicodeString(&wide);
    return status;
  }

  NTSTATUS Write(const uint8_t* bytes, ULONG size, ULONG at) {
    IO_STATUS_BLOCK io;
    LARGE_INTEGER offset;
    offset.QuadPart = at;
    const NTSTATUS status = ZwWriteFile(writer_.get(), nullptr, nullptr, nullptr, &io,
                                        const_cast<uint8_t*>(bytes), size, &offset, nullptr);
    return NT_SUCCESS(status) && io.Information != size ? STATUS_DISK_FULL : status;
  }

  char name_[standin::kMaxPath] = {};
  ZwHandle writer_;
  ZwHandle section_;
};

// Where the mapping calls run: where they are, when every handle the driver makes is the
// kernel's alone (Windows 2000 on, Wine); else (NT 4.0) attached to the system process, whose
// handle table no program's thread can reach, and where DriverEntry made the section handle.
class HandleSafeContext {
 public:
  HandleSafeContext() {
    if (!HandlesAreKernelOnly() && IoGetCurrentProcess() != PsInitialSystemProcess) {
      KeAttachProcess(reinterpret_cast<PKPROCESS>(PsInitialSystemProcess));
      attached_ = true;
    }
  }
  ~HandleSafeContext() {
    if (attached_)
      KeDetachProcess();
  }
  HandleSafeContext(const HandleSafeContext&) = delete;
  HandleSafeContext& operator=(const HandleSafeContext&) = delete;

 private:
  bool attached_ = false;
};

// A handle to a process object, for the mapping calls. (No object type is given: the object is
// one PsLookupProcessByProcessId returned, and the type is a data export that the headers and
// the kernels disagree on how to reach.)
bool OpenProcessObject(PEPROCESS process, ZwHandle& handle) {
  return Succeeded(
      ObOpenObjectByPointer(process, Known(OBJ_KERNEL_HANDLE), nullptr, kProcessVmOperation,
                            nullptr, KernelMode, handle.receive()),
      "open the process object");
}

bool MapView(HANDLE section, HANDLE process, ULONG size, ULONG at, PVOID& base) {
  base = nullptr;
  SIZE_T view = size;
  LARGE_INTEGER offset;
  offset.QuadPart = at;
  return Succeeded(ZwMapViewOfSection(section, process, &base, 0, size, &offset, &view, ViewUnmap,
                                      0, PAGE_READONLY),
                   "map a view of the table");
}

// Views of the table's section in a process, named by its process object. A handout holds the
// object (so its id cannot pass to another process meanwhile) and is unmapped through it.
class SectionMapper : public standin::TableMapper {
 public:
  HANDLE section = nullptr;

  bool Map(uintptr_t process, const standin::TableLayout& layout, uintptr_t& head_view,
           uintptr_t& tail_view) override {
    const auto object = reinterpret_cast<PEPROCESS>(process);
    HandleSafeContext context;
    ZwHandle handle;
    if (!OpenProcessObject(object, handle))
      return false;
    PVOID head = nullptr;
    PVOID tail = nullptr;
    if (!MapView(section, handle.get(), layout.head_view_size, 0, head))
      return false;
    if (layout.tail_view_size > 0 &&
        !MapView(section, handle.get(), layout.tail_view_size, kTailFileOffset, tail)) {
      ZwUnmapViewOfSection(handle.get(), head);
      return false;
    }
    ObReferenceObject(object);  // until Unmap
    head_view = reinterpret_cast<uintptr_t>(head);
    tail_view = reinterpret_cast<uintptr_t>(tail);
    return true;
  }

  // The handout's reference to the process goes only with its views: a process the kernel
  // cannot open right now still holds them, and the release says so.
  bool Unmap(uintptr_t process, uintptr_t head_view, uintptr_t tail_view) override {
    const auto object = reinterpret_cast<PEPROCESS>(process);
    bool gone = false;
    {
      HandleSafeContext context;
      ZwHandle handle;
      gone = OpenProcessObject(object, handle) && UnmapView(handle.get(), head_view) &&
             (tail_view == 0 || UnmapView(handle.get(), tail_view));
    }
    if (gone)
      ObDereferenceObject(object);
    return gone;
  }

  void Drop(uintptr_t process) override {
    Say("a closing open leaves a table mapped in a process the driver cannot reach");
    ObDereferenceObject(reinterpret_cast<PEPROCESS>(process));
  }

 private:
  // A view that is no longer there (its process unmapped it itself) is as good as unmapped.
  static bool UnmapView(HANDLE process, uintptr_t view) {
    const NTSTATUS status = ZwUnmapViewOfSection(process, reinterpret_cast<PVOID>(view));
    return status == STATUS_NOT_MAPPED_VIEW || Succeeded(status, "unmap a view of the table");
  }
};

// Everything the device needs while it runs; lives in the device extension.
struct DeviceState {
  DeviceState(const standin::Config& config, const smbios::TableImage& image)
      : device(config, image, standin::kNtRequests, mapper) {
    KeInitializeEvent(&lock, SynchronizationEvent, TRUE);
  }
  // Held inside a critical region: a holder cannot be suspended (suspension arrives as a normal
  // kernel APC, which the region holds off), so no caller can stall every other open's cleanup.
  void Lock() {
    KeEnterCriticalRegion();
    KeWaitForSingleObject(&lock, Executive, KernelMode, FALSE, nullptr);
  }
  void Unlock() {
    KeSetEvent(&lock, IO_NO_INCREMENT, FALSE);
    KeLeaveCriticalRegion();
  }

  KEVENT lock;
  TableStore store;
  SectionMapper mapper;
  standin::StandinDevice device;
  uint8_t security[standin::kDeviceSecuritySize];
};

const WCHAR kDeviceName[] = L"\\Device\\ZYNDRV";
const WCHAR kLinkName[] = L"\\DosDevices\\ZYNDRV";

DeviceState* StateOf(PDEVICE_OBJECT device) {
  return static_cast<DeviceState*>(device->DeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// Only the system and administrators may open the device: the device's own security descriptor
// decides, against the caller's token as the open carries it. Wine's driver host passes no
// security context (and runs every program with full rights): there is nothing to check then.
bool MayOpen(const DeviceState& state, PIRP irp, PIO_SECURITY_CONTEXT security) {
  if (irp->RequestorMode == KernelMode || security == nullptr || security->AccessState == nullptr)
    return true;
  PSECURITY_SUBJECT_CONTEXT subject = &security->AccessState->SubjectSecurityContext;
  SeLockSubjectContext(subject);
  ACCESS_MASK granted = 0;
  NTSTATUS status = STATUS_ACCESS_DENIED;
  GENERIC_MAPPING file_rights = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                                 FILE_ALL_ACCESS};
  // Read and write access asked for whatever the caller asked for: an open with no access at
  // all could send the requests too (their codes ask for none).
  const BOOLEAN allowed = SeAccessCheck(const_cast<uint8_t*>(state.security), subject, TRUE,
                                        security->DesiredAccess | FILE_READ_DATA | FILE_WRITE_DATA,
                                        0, nullptr, &file_rights, UserMode, &granted, &status);
  SeUnlockSubjectContext(subject);
  return allowed != FALSE;
}

// One line per open, so tests can check how the program opened the device: the access asked
// for (as given and after the generic rights were mapped), the share mode, the creation
// disposition (1: FILE_OPEN, what OPEN_EXISTING becomes), the create options (what the flags
// become: 0x20 synchronous, that is not FILE_FLAG_OVERLAPPED; 0x1000 delete on close) and the
// attributes. The NT family's I/O manager always passes a security context with the access and
// the disposition in the options' top byte; a host that passes none (Wine's driver host) tells
// the driver neither, and the line says "unknown" rather than a number that was never sent.
NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
  const ULONG options = stack->Parameters.Create.Options;
  const ULONG share = stack->Parameters.Create.ShareAccess;
  const ULONG attributes = stack->Parameters.Create.FileAttributes;
  const ULONG process = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(PsGetCurrentProcessId()));
  if (security == nullptr) {
    DbgPrint(
        "ZYNDRV: open access=unknown requested=unknown share=0x%lx disposition=unknown "
        "options=0x%06lx attributes=0x%lx process=%lu\n",
        share, options & 0x00FFFFFF, attributes, process);
  } else {
    const ULONG requested = security->AccessState != nullptr
                                ? security->AccessState->OriginalDesiredAccess
                                : security->DesiredAccess;
    DbgPrint(
        "ZYNDRV: open access=0x%08lx requested=0x%08lx share=0x%lx disposition=%lu "
        "options=0x%06lx attributes=0x%lx process=%lu\n",
        static_cast<ULONG>(security->DesiredAccess), requested, share, options >> 24,
        options & 0x00FFFFFF, attributes, process);
  }
  DeviceState* state = StateOf(device);
  if (!MayOpen(*state, irp, security)) {
    Say("open refused: only the system and administrators may open the device");
    return Complete(irp, STATUS_ACCESS_DENIED, 0);
  }
  // The open's own book of handouts, freed with the open.
  void* book = ExAllocatePoolWithTag(NonPagedPool, sizeof(standin::HandoutBook), kPoolTag);
  if (book == nullptr)
    return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  stack->FileObject->FsContext = new (book) standin::HandoutBook();
  state->Lock();
  state->device.Open(*static_cast<standin::HandoutBook*>(book));
  state->Unlock();
  return Complete(irp, STATUS_SUCCESS, 0);
}

standin::HandoutBook* BookOf(PIO_STACK_LOCATION stack) {
  return stack->FileObject != nullptr
             ? static_cast<standin::HandoutBook*>(stack->FileObject->FsContext)
             : nullptr;
}

// The open is going away: whatever it still has mapped goes, each view through the process it
// lives in. The NT family sends the cleanup when the last handle closes, then the close; Wine's
// driver host sends only the close.
void ForgetOpen(PDEVICE_OBJECT device, PIRP irp, bool free_book) {
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  standin::HandoutBook* book = BookOf(stack);
  if (book == nullptr)
    return;
  DeviceState* state = StateOf(device);
  state->Lock();
  state->device.Close(*book);
  state->Unlock();
  if (free_book) {
    stack->FileObject->FsContext = nullptr;
    book->~HandoutBook();
    ExFreePool(book);
  }
}

NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
  ForgetOpen(device, irp, false);
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  ForgetOpen(device, irp, true);
  return Complete(irp, STATUS_SUCCESS, 0);
}

constexpr standin::AnswerCodes kStatuses{static_cast<uint32_t>(STATUS_SUCCESS),
                                         static_cast<uint32_t>(STATUS_INVALID_DEVICE_REQUEST),
                                         static_cast<uint32_t>(STATUS_INVALID_PARAMETER),
                                         static_cast<uint32_t>(STATUS_ACCESS_DENIED),
                                         static_cast<uint32_t>(STATUS_UNSUCCESSFUL),
                                         static_cast<uint32_t>(STATUS_INSUFFICIENT_RESOURCES)};

NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  void* buffer = irp->AssociatedIrp.SystemBuffer;  // METHOD_BUFFERED: in and out share it
  DeviceState* state = StateOf(device);
  standin::HandoutBook* book = BookOf(stack);
  // The caller's process object, looked up by the id of the process the request runs for (on
  // NT the current one; Wine's driver host runs requests in its own process but gives the
  // caller's id).
  ProcessObject caller;
  if (book == nullptr ||
      !NT_SUCCESS(PsLookupProcessByProcessId(PsGetCurrentProcessId(), caller.receive())))
    return Complete(irp, STATUS_INVALID_DEVICE_STATE, 0);
  uint32_t returned = 0;
  state->Lock();
  const standin::Answer answer =
      state->device.Control(*book, reinterpret_cast<uintptr_t>(caller.get()), code, buffer,
                            stack->Parameters.DeviceIoControl.InputBufferLength, buffer,
                            stack->Parameters.DeviceIoControl.OutputBufferLength, returned);
  state->Unlock();
  if (answer != standin::Answer::kDone)
    DbgPrint("ZYNDRV: request 0x%06lx refused: %s\n", code, standin::DescribeAnswer(answer));
  return Complete(irp, static_cast<NTSTATUS>(standin::CodeOf(answer, kStatuses)), returned);
}

void NTAPI Unload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, kLinkName);
  IoDeleteSymbolicLink(&link);
  PDEVICE_OBJECT device = driver->DeviceObject;
  if (device != nullptr) {
    DeviceState* state = StateOf(device);
    state->device.ReleaseAll();
    state->~DeviceState();  // closes the table's section and file, which goes with them
    IoDeleteDevice(device);
  }
  Say("unloaded");
}

const char* FailName(standin::FailMode mode) {
  switch (mode) {
    case standin::FailMode::kProbe:
      return "probe";
    case standin::FailMode::kTable:
      return "table";
    case standin::FailMode::kRelease:
      return "release";
    default:
      return "none";
  }
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  PoolBlock work_block(AllocatePool(sizeof(StartWork)));
  if (!work_block.holds())
    return STATUS_INSUFFICIENT_RESOURCES;
  StartWork* work = new (work_block.get()) StartWork();
  struct WorkEnd {
    StartWork* work;
    ~WorkEnd() { work->~StartWork(); }
  } work_end{work};

  if (!FindImagePath(registry_path, work->image_path, sizeof work->image_path)) {
    Say("cannot read the image path from the service key");
    return STATUS_UNSUCCESSFUL;
  }
  const standin::Startup& startup = work->startup;
  if (!standin::LoadStartup(work->image_path, kConfigName, work->files, work->startup)) {
    Say(startup.message);
    return STATUS_UNSUCCESSFUL;
  }

  UNICODE_STRING name;
  RtlInitUnicodeString(&name, kDeviceName);
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status =
      IoCreateDevice(driver, sizeof(DeviceState), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) {
    DbgPrint("ZYNDRV: cannot create the device (status 0x%08lx)\n", static_cast<ULONG>(status));
    return status;
  }
  DeviceState* state = new (device->DeviceExtension) DeviceState(startup.config, startup.image);
  standin::WriteDeviceSecurity(state->security);
  const standin::TableLayout& layout = state->device.layout();
  if (layout.head_view_size > 0 &&
      (!standin::ToNativePath(startup.folder, work->native_folder, sizeof work->native_folder) ||
       !state->store.Create(driver, work->native_folder, layout, startup.image.bytes))) {
    state->~DeviceState();
    IoDeleteDevice(device);
    Say("cannot set up the table's file and section");
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  state->mapper.section = state->store.section();
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, kLinkName);
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    state->~DeviceState();
    IoDeleteDevice(device);
    DbgPrint("ZYNDRV: cannot create the link (status 0x%08lx)\n", static_cast<ULONG>(status));
    return status;
  }

  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;

  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = Unload;

  DbgPrint(
      "ZYNDRV: serving %lu bytes (%u structures) from %s at page offset %lu, probe 0x%04x, "
      "fail %s\n",
      static_cast<ULONG>(startup.image.length), startup.image.structure_count,
      startup.table_path[0] != '\0' ? startup.table_path : "the firmware",
      static_cast<ULONG>(startup.config.offset), startup.config.probe,
      FailName(startup.config.fail));
  return STATUS_SUCCESS;
}
