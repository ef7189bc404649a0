// ZYNDRV.sys: a stand-in for the outside kernel driver, so the program's NT road can run end to
// end. It answers the three requests of the device channel from a configuration file beside its
// image (zyndrv.cfg, see core/config.h) or, without one, from the firmware's own SMBIOS table.
//
// Plain NT kernel code: it imports from ntoskrnl.exe only and links no C runtime. The table is
// read once at start into two page-file sections (its head page and the rest), and each
// get-table request maps views of them read-only into the calling process: the head at the
// configured offset of its page, the rest at an address of its own, so a table that runs past
// the page arrives in two pieces that are not adjacent.

// In C++ the DDK header and the compiler's intrinsics header both define these two; take the
// compiler's.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntifs.h>
#include <stddef.h>

#include <new>

#include "config.h"
#include "startup.h"
#include "device.h"
#include "table_image.h"
#include "table_path.h"
#include "text.h"

extern "C" NTSYSAPI NTSTATUS NTAPI ZwQuerySystemInformation(ULONG information_class,
                                                            PVOID information, ULONG length,
                                                            PULONG returned);

namespace {

constexpr ULONG kPoolTag = 0x206E795A;  // "Zyn "
constexpr ULONG kSystemFirmwareTableInformation = 76;
constexpr ULONG kRawSmbiosProvider = 0x52534D42;  // 'RSMB'
constexpr ACCESS_MASK kProcessVmOperation = 0x0008;
constexpr char kConfigName[] = "zyndrv.cfg";
constexpr size_t kPathSize = 520;

void Say(const char* text) {
  DbgPrint("ZYNDRV: %s\n", text);
}

// A block of paged pool, freed when it goes out of scope.
class PoolBlock {
 public:
  PoolBlock() = default;
  PoolBlock(const PoolBlock&) = delete;
  PoolBlock& operator=(const PoolBlock&) = delete;
  ~PoolBlock() { Reset(); }

  bool Allocate(ULONG size) {
    Reset();
    data_ = static_cast<uint8_t*>(ExAllocatePoolWithTag(PagedPool, size == 0 ? 1 : size, kPoolTag));
    size_ = data_ != nullptr ? size : 0;
    return data_ != nullptr;
  }
  void Reset() {
    if (data_ != nullptr)
      ExFreePool(data_);
    data_ = nullptr;
    size_ = 0;
  }
  uint8_t* data() const { return data_; }
  ULONG size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  ULONG size_ = 0;
};

class KernelHandle {
 public:
  KernelHandle() = default;
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;
  ~KernelHandle() {
    if (handle_ != nullptr)
      ZwClose(handle_);
  }
  HANDLE* receive() { return &handle_; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

enum class FileRead { kRead, kMissing, kFailed, kTooLarge };

// The whole of a file named by its native path.
FileRead ReadWholeFile(const char* native_path, ULONG max_size, PoolBlock& contents,
                       NTSTATUS& status) {
  ANSI_STRING ansi;
  RtlInitAnsiString(&ansi, native_path);
  UNICODE_STRING name;
  status = RtlAnsiStringToUnicodeString(&name, &ansi, TRUE);
  if (!NT_SUCCESS(status))
    return FileRead::kFailed;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  KernelHandle file;
  IO_STATUS_BLOCK io;
  status = ZwCreateFile(file.receive(), GENERIC_READ | SYNCHRONIZE, &attributes, &io, nullptr,
                        FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, FILE_OPEN,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0);
  RtlFreeUnicodeString(&name);
  if (status == STATUS_OBJECT_NAME_NOT_FOUND || status == STATUS_OBJECT_PATH_NOT_FOUND ||
      status == STATUS_NO_SUCH_FILE)
    return FileRead::kMissing;
  if (!NT_SUCCESS(status))
    return FileRead::kFailed;

  FILE_STANDARD_INFORMATION info;
  status = ZwQueryInformationFile(file.get(), &io, &info, sizeof info, FileStandardInformation);
  if (!NT_SUCCESS(status))
    return FileRead::kFailed;
  if (info.EndOfFile.HighPart != 0 || info.EndOfFile.LowPart > max_size)
    return FileRead::kTooLarge;
  const ULONG size = info.EndOfFile.LowPart;
  if (!contents.Allocate(size)) {
    status = STATUS_INSUFFICIENT_RESOURCES;
    return FileRead::kFailed;
  }
  ULONG done = 0;
  while (done < size) {
    LARGE_INTEGER at;
    at.QuadPart = done;
    status = ZwReadFile(file.get(), nullptr, nullptr, nullptr, &io, contents.data() + done,
                        size - done, &at, nullptr);
    if (!NT_SUCCESS(status) || io.Information == 0) {
      if (NT_SUCCESS(status))
        status = STATUS_END_OF_FILE;  // the file shrank under us: never serve half a table
      return FileRead::kFailed;
    }
    done += static_cast<ULONG>(io.Information);
  }
  return FileRead::kRead;
}

// The image path the service manager registered, as a native path ("\??\C:\...\ZYNDRV.sys").
bool FindImagePath(PUNICODE_STRING registry_path, char* out, size_t out_size) {
  const char* fallback = "system32\\drivers\\ZYNDRV.sys";
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, registry_path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                             nullptr, nullptr);
  KernelHandle key;
  if (!NT_SUCCESS(ZwOpenKey(key.receive(), KEY_READ, &attributes)))
    return standin::ToNativePath(fallback, out, out_size);

  UNICODE_STRING value_name;
  RtlInitUnicodeString(&value_name, L"ImagePath");
  PoolBlock value;
  ULONG length = 0;
  if (!value.Allocate(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 2 * kPathSize) ||
      !NT_SUCCESS(ZwQueryValueKey(key.get(), &value_name, KeyValuePartialInformation, value.data(),
                                  value.size(), &length)))
    return standin::ToNativePath(fallback, out, out_size);
  const auto* info = reinterpret_cast<const KEY_VALUE_PARTIAL_INFORMATION*>(value.data());
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
  char plain[kPathSize];
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

// Files and the firmware's table for the start-up, in paged pool until the sections are filled.
class KernelFiles : public standin::FileReader {
 public:
  Result ReadWhole(Slot slot, const char* path, uint32_t max_size, const uint8_t*& bytes,
                   uint32_t& size) override {
    if (!standin::ToNativePath(path, native_, sizeof native_))
      return Result::kFailed;
    PoolBlock& block = slot == Slot::kConfig ? config_ : table_;
    NTSTATUS status = STATUS_SUCCESS;
    switch (ReadWholeFile(native_, max_size, block, status)) {
      case FileRead::kMissing:
        return Result::kMissing;
      case FileRead::kTooLarge:
        return Result::kTooLarge;
      case FileRead::kFailed:
        DbgPrint("ZYNDRV: %s: status 0x%08lx\n", native_, static_cast<ULONG>(status));
        return Result::kFailed;
      case FileRead::kRead:
        break;
    }
    bytes = block.data();
    size = block.size();
    return Result::kRead;
  }

  bool ReadFirmware(const uint8_t*& bytes, uint32_t& size) override {
    constexpr ULONG header = offsetof(SYSTEM_FIRMWARE_TABLE_INFORMATION, TableBuffer);
    ULONG need = 0;
    NTSTATUS status = STATUS_BUFFER_TOO_SMALL;
    for (int attempt = 0; attempt < 3 && status == STATUS_BUFFER_TOO_SMALL; ++attempt) {
      if (!table_.Allocate(header + need))
        return false;
      auto* info = reinterpret_cast<SYSTEM_FIRMWARE_TABLE_INFORMATION*>(table_.data());
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
    if (!NT_SUCCESS(status)) {
      DbgPrint("ZYNDRV: the firmware's table: status 0x%08lx\n", static_cast<ULONG>(status));
      return false;
    }
    const auto* info = reinterpret_cast<const SYSTEM_FIRMWARE_TABLE_INFORMATION*>(table_.data());
    bytes = info->TableBuffer;
    size = info->TableBufferLength < need ? info->TableBufferLength : need;
    return true;
  }

 private:
  PoolBlock config_;
  PoolBlock table_;  // the table file or the firmware's answer
  char native_[kPathSize] = {};
};

// The start-up's work, in paged pool: DriverEntry's stack is small.
struct StartWork {
  KernelFiles files;
  standin::Startup startup;
  char image_path[kPathSize] = {};
};

// A page-file section of `size` bytes, or null.
HANDLE CreateSection(ULONG size) {
  if (size == 0)
    return nullptr;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
  LARGE_INTEGER maximum;
  maximum.QuadPart = size;
  HANDLE section = nullptr;
  if (!NT_SUCCESS(ZwCreateSection(&section, SECTION_ALL_ACCESS, &attributes, &maximum,
                                  PAGE_READWRITE, SEC_COMMIT, nullptr)))
    return nullptr;
  return section;
}

bool MapView(HANDLE section, HANDLE process, ULONG size, ULONG protection, PVOID& base) {
  base = nullptr;
  SIZE_T view = size;
  LARGE_INTEGER offset;
  offset.QuadPart = 0;
  return NT_SUCCESS(ZwMapViewOfSection(section, process, &base, 0, size, &offset, &view, ViewUnmap,
                                       0, protection));
}

HANDLE OpenProcess(uintptr_t process_id) {
  CLIENT_ID client;
  client.UniqueProcess = reinterpret_cast<HANDLE>(process_id);
  client.UniqueThread = nullptr;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
  HANDLE process = nullptr;
  if (!NT_SUCCESS(ZwOpenProcess(&process, kProcessVmOperation, &attributes, &client)))
    return nullptr;
  return process;
}

// Views of the two sections in the calling process. The dispatch routine runs for the caller,
// so its process id names the address space to map into.
class SectionMapper : public standin::TableMapper {
 public:
  HANDLE head_section = nullptr;
  HANDLE tail_section = nullptr;

  bool Map(uintptr_t process_id, const standin::TableLayout& layout, uintptr_t& head_view,
           uintptr_t& tail_view) override {
    KernelHandle process;
    *process.receive() = OpenProcess(process_id);
    if (process.get() == nullptr)
      return false;
    PVOID head = nullptr;
    PVOID tail = nullptr;
    if (!MapView(head_section, process.get(), layout.head_view_size, PAGE_READONLY, head))
      return false;
    if (layout.tail_view_size > 0 &&
        !MapView(tail_section, process.get(), layout.tail_view_size, PAGE_READONLY, tail)) {
      ZwUnmapViewOfSection(process.get(), head);
      return false;
    }
    head_view = reinterpret_cast<uintptr_t>(head);
    tail_view = reinterpret_cast<uintptr_t>(tail);
    return true;
  }

  void Unmap(uintptr_t process_id, uintptr_t head_view, uintptr_t tail_view) override {
    KernelHandle process;
    *process.receive() = OpenProcess(process_id);
    if (process.get() == nullptr)
      return;  // the process has gone, and its views with it
    ZwUnmapViewOfSection(process.get(), reinterpret_cast<PVOID>(head_view));
    if (tail_view != 0)
      ZwUnmapViewOfSection(process.get(), reinterpret_cast<PVOID>(tail_view));
  }
};

// Fills the sections once: a writable view of each in the driver's own process, then unmapped.
bool FillSections(const SectionMapper& mapper, const standin::TableLayout& layout,
                  const standin::TableImage& image) {
  if (layout.head_view_size == 0)
    return true;
  PVOID head = nullptr;
  PVOID tail = nullptr;
  if (!MapView(mapper.head_section, ZwCurrentProcess(), layout.head_view_size, PAGE_READWRITE,
               head))
    return false;
  bool ok = true;
  if (layout.tail_view_size > 0)
    ok = MapView(mapper.tail_section, ZwCurrentProcess(), layout.tail_view_size, PAGE_READWRITE,
                 tail);
  if (ok)
    standin::FillPieces(layout, image.bytes, static_cast<uint8_t*>(head),
                        static_cast<uint8_t*>(tail));
  if (tail != nullptr)
    ZwUnmapViewOfSection(ZwCurrentProcess(), tail);
  ZwUnmapViewOfSection(ZwCurrentProcess(), head);
  return ok;
}

// Everything the device needs while it runs; lives in the device extension.
struct DeviceState {
  DeviceState(const standin::Config& config, const standin::TableFacts& facts)
      : device(config, facts, standin::kNtRequests, mapper) {
    KeInitializeEvent(&lock, SynchronizationEvent, TRUE);
  }
  void Lock() { KeWaitForSingleObject(&lock, Executive, KernelMode, FALSE, nullptr); }
  void Unlock() { KeSetEvent(&lock, IO_NO_INCREMENT, FALSE); }

  KEVENT lock;
  SectionMapper mapper;
  standin::StandinDevice device;
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

// One line per open, so tests can check how the program opened the device: the access asked
// for (as given and after the generic rights were mapped), the share mode, the creation
// disposition (1: FILE_OPEN, what OPEN_EXISTING becomes), the create options (what the flags
// become: 0x20 synchronous, that is not FILE_FLAG_OVERLAPPED; 0x1000 delete on close) and the
// attributes. The NT family's I/O manager always passes a security context with the access and
// the disposition in the options' top byte; a host that passes none (Wine's driver host) tells
// the driver neither, and the line says "unknown" rather than a number that was never sent.
NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT, PIRP irp) {
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
  return Complete(irp, STATUS_SUCCESS, 0);
}

// The open is going away: whatever it still has mapped goes. The NT family sends the cleanup
// when the last handle closes, then the close; Wine's driver host sends only the close.
void ForgetOpen(PDEVICE_OBJECT device, PIRP irp) {
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  DeviceState* state = StateOf(device);
  state->Lock();
  state->device.ReleaseOwner(reinterpret_cast<uintptr_t>(stack->FileObject));
  state->Unlock();
}

NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
  ForgetOpen(device, irp);
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  ForgetOpen(device, irp);
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS StatusOf(standin::Answer answer) {
  switch (answer) {
    case standin::Answer::kDone:
      return STATUS_SUCCESS;
    case standin::Answer::kUnknownRequest:
      return STATUS_INVALID_DEVICE_REQUEST;
    case standin::Answer::kWrongSize:
    case standin::Answer::kNotHandedOut:
      return STATUS_INVALID_PARAMETER;
    case standin::Answer::kFailing:
      return STATUS_UNSUCCESSFUL;
    default:
      return STATUS_INSUFFICIENT_RESOURCES;
  }
}

NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  void* buffer = irp->AssociatedIrp.SystemBuffer;  // METHOD_BUFFERED: in and out share it
  DeviceState* state = StateOf(device);
  uint32_t returned = 0;
  state->Lock();
  const standin::Answer answer =
      state->device.Control(reinterpret_cast<uintptr_t>(stack->FileObject),
                            reinterpret_cast<uintptr_t>(PsGetCurrentProcessId()), code, buffer,
                            stack->Parameters.DeviceIoControl.InputBufferLength, buffer,
                            stack->Parameters.DeviceIoControl.OutputBufferLength, returned);
  state->Unlock();
  if (answer != standin::Answer::kDone)
    DbgPrint("ZYNDRV: request 0x%06lx refused: %s\n", code, standin::DescribeAnswer(answer));
  return Complete(irp, StatusOf(answer), returned);
}

void CloseSections(SectionMapper& mapper) {
  if (mapper.head_section != nullptr)
    ZwClose(mapper.head_section);
  if (mapper.tail_section != nullptr)
    ZwClose(mapper.tail_section);
  mapper.head_section = mapper.tail_section = nullptr;
}

void NTAPI Unload(PDRIVER_OBJECT driver) {
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, kLinkName);
  IoDeleteSymbolicLink(&link);
  PDEVICE_OBJECT device = driver->DeviceObject;
  if (device != nullptr) {
    DeviceState* state = StateOf(device);
    state->device.ReleaseAll();
    CloseSections(state->mapper);
    state->~DeviceState();
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
  PoolBlock work_block;
  if (!work_block.Allocate(sizeof(StartWork)))
    return STATUS_INSUFFICIENT_RESOURCES;
  StartWork* work = new (work_block.data()) StartWork();
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

  const standin::TableLayout layout =
      standin::PlanTableLayout(startup.config.offset, startup.image.length);
  SectionMapper sections;
  sections.head_section = CreateSection(layout.head_view_size);
  sections.tail_section = CreateSection(layout.tail_view_size);
  if ((layout.head_view_size > 0 && sections.head_section == nullptr) ||
      (layout.tail_view_size > 0 && sections.tail_section == nullptr) ||
      !FillSections(sections, layout, startup.image)) {
    CloseSections(sections);
    Say("cannot set up the table's sections");
    return STATUS_INSUFFICIENT_RESOURCES;
  }

  UNICODE_STRING name;
  RtlInitUnicodeString(&name, kDeviceName);
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status =
      IoCreateDevice(driver, sizeof(DeviceState), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) {
    CloseSections(sections);
    DbgPrint("ZYNDRV: cannot create the device (status 0x%08lx)\n", static_cast<ULONG>(status));
    return status;
  }
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, kLinkName);
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    CloseSections(sections);
    DbgPrint("ZYNDRV: cannot create the link (status 0x%08lx)\n", static_cast<ULONG>(status));
    return status;
  }

  DeviceState* state =
      new (device->DeviceExtension) DeviceState(startup.config, standin::FactsOf(startup.image));
  state->mapper.head_section = sections.head_section;
  state->mapper.tail_section = sections.tail_section;
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
