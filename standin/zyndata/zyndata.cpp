// zyndata.vxd: a stand-in for the 9x family's virtual device driver, as Wine's 9x mode loads one:
// opening "\\.\ZYNDATA.VXD" loads this PE DLL from the program's folder, and DeviceIoControl
// calls with small codes arrive at its export named DeviceIoControl, in the caller's own
// process. It answers the probe, get-table and release-table requests from zyndata.cfg beside
// it (the same form as zyndrv.cfg) or, without one, from the firmware's SMBIOS table.
//
// The open's access, share mode, creation disposition and flags never reach a VxD loaded this
// way (the loader passes it nothing but the calls), so its debug output records what it can
// see: where it was loaded from, into which process, and each request it refused.
//
// It imports from KERNEL32 only and links no C runtime. The table's two pieces are two separate
// allocations of the caller's own memory: the head page and the rest never adjoin.
#include <windows.h>

#include <new>

#include "standin/core/config.h"
#include "standin/core/load_startup.h"
#include "standin/core/device.h"
#include "smbios/smbios_dump.h"
#include "standin/core/table_path.h"
#include "standin/core/text.h"
#include "runtime/owner.h"
#include "runtime/win32_handles.h"

namespace {

constexpr char kConfigName[] = "zyndata.cfg";
constexpr DWORD kRawSmbiosProvider = 0x52534D42;  // 'RSMB'

void Say(const char* first, const char* second = "", const char* third = "") {
  char line[3 * standin::kMaxPath];
  standin::TextWriter w(line, sizeof line);
  w.Add("ZYNDATA: ").Add(first).Add(second).Add(third).AddChar('\n');
  OutputDebugStringA(line);
}

// Heap blocks and file handles, each released once by its owner.
struct HeapKind {
  using Handle = void*;
  static void* Empty() { return nullptr; }
  static bool Holds(void* block) { return block != nullptr; }
  void Release(void* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
using HeapBlock = zynrt::Owner<HeapKind>;

typedef UINT(WINAPI* FirmwareTableCall)(DWORD, DWORD, PVOID, DWORD);

// Files and the firmware's table, from the process heap; the table stays while loaded.
class ProcessFiles : public standin::FileReader {
 public:
  bool ReadFirmware(const uint8_t*& bytes, uint32_t& size) override {
    // Looked up rather than imported: older KERNEL32s do not have it.
    const auto call = reinterpret_cast<FirmwareTableCall>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemFirmwareTable")));
    const UINT need = call != nullptr ? call(kRawSmbiosProvider, 0, nullptr, 0) : 0;
    bytes = need != 0 ? Allocate(Slot::kTable, need) : nullptr;
    size = need;
    return bytes != nullptr && call(kRawSmbiosProvider, 0, table_.get(), need) == need;
  }

  void ReleaseConfig() { config_.Reset(); }

 protected:
  Result Open(const char* path) override {
    file_.Reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_.holds())
      return Result::kRead;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Result::kMissing
                                                                          : Result::kFailed;
  }
  bool Size(uint32_t& low, uint32_t& high) override {
    DWORD upper = 0;
    low = GetFileSize(file_.get(), &upper);
    high = upper;
    return low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
  }
  uint32_t Read(uint8_t* to, uint32_t, uint32_t count) override {  // in order, from the start
    DWORD got = 0;
    return ReadFile(file_.get(), to, count, &got, nullptr) ? got : 0;
  }
  void Close() override { file_.Reset(); }
  uint8_t* Allocate(Slot slot, uint32_t size) override {
    HeapBlock& block = slot == Slot::kConfig ? config_ : table_;
    block.Reset(HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size));
    return static_cast<uint8_t*>(block.get());
  }

 private:
  win32::KernelHandle file_;
  HeapBlock config_;
  HeapBlock table_;
};

// The caller's own memory: a page for the head and, well apart from it, pages for the rest.
class MemoryMapper : public standin::TableMapper {
 public:
  const uint8_t* table = nullptr;

  bool Map(uintptr_t, const standin::TableLayout& layout, uintptr_t& head_view,
           uintptr_t& tail_view) override {
    void* head =
        VirtualAlloc(nullptr, layout.head_view_size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (head == nullptr)
      return false;
    void* tail = nullptr;
    if (layout.tail_view_size > 0) {
      tail = VirtualAlloc(nullptr, layout.tail_view_size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
      if (tail == nullptr) {
        VirtualFree(head, 0, MEM_RELEASE);
        return false;
      }
    }
    standin::FillPieces(layout, table, static_cast<uint8_t*>(head), static_cast<uint8_t*>(tail));
    DWORD old = 0;
    VirtualProtect(head, layout.head_view_size, PAGE_READONLY, &old);
    if (tail != nullptr)
      VirtualProtect(tail, layout.tail_view_size, PAGE_READONLY, &old);
    head_view = reinterpret_cast<uintptr_t>(head);
    tail_view = reinterpret_cast<uintptr_t>(tail);
    return true;
  }

  bool Unmap(uintptr_t, uintptr_t head_view, uintptr_t tail_view) override {
    const bool head_gone = VirtualFree(reinterpret_cast<void*>(head_view), 0, MEM_RELEASE) != 0;
    return (tail_view == 0 ||
            VirtualFree(reinterpret_cast<void*>(tail_view), 0, MEM_RELEASE) != 0) &&
           head_gone;
  }
};

struct VxdState {
  VxdState(const standin::Config& config, const smbios::TableImage& image)
      : device(config, image, standin::kVxdRequests, mapper) {
    mapper.table = image.bytes;
    device.Open(book);
    InitializeCriticalSection(&lock);
  }
  ~VxdState() { DeleteCriticalSection(&lock); }

  CRITICAL_SECTION lock;
  MemoryMapper mapper;
  standin::StandinDevice device;
  // The loader passes no handle: every request comes from the one process this copy is
  // loaded in, as one open.
  standin::HandoutBook book;
};

// Loaded once per process and never as a global with a constructor: no runtime runs those.
struct Loaded {
  ProcessFiles files;  // holds the table served while loaded
  alignas(VxdState) unsigned char state_space[sizeof(VxdState)];
  VxdState* state = nullptr;
};
alignas(Loaded) unsigned char g_loaded_space[sizeof(Loaded)];
Loaded* g_loaded = nullptr;

// Reads the configuration and its table; false (after saying why) when the VxD must not load.
bool Attach(HINSTANCE self) {
  char image[standin::kMaxPath];
  const DWORD n = GetModuleFileNameA(self, image, sizeof image);
  if (n == 0 || n >= sizeof image) {
    Say("cannot find its own file");
    return false;
  }
  char pid[12];
  standin::TextWriter(pid, sizeof pid).AddDecimal(GetCurrentProcessId());
  Say("loaded from ", image);
  Say("process ", pid, (GetVersion() & 0x80000000u) != 0 ? " (9x family)" : " (NT family)");

  Loaded* loaded = new (g_loaded_space) Loaded();
  standin::Startup startup;
  if (!standin::LoadStartup(image, kConfigName, loaded->files, startup)) {
    Say(startup.message);
    loaded->~Loaded();
    return false;
  }
  loaded->files.ReleaseConfig();
  loaded->state = new (loaded->state_space) VxdState(startup.config, startup.image);
  g_loaded = loaded;
  return true;
}

void Detach() {
  if (g_loaded == nullptr)
    return;
  g_loaded->state->device.ReleaseAll();
  g_loaded->state->~VxdState();
  g_loaded->~Loaded();
  g_loaded = nullptr;
  Say("unloaded");
}

constexpr standin::AnswerCodes kErrors{
    NO_ERROR,          ERROR_INVALID_FUNCTION, ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED,
    ERROR_GEN_FAILURE, ERROR_NOT_ENOUGH_MEMORY};

}  // namespace

extern "C" BOOL WINAPI ZynDataEntry(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    return Attach(self) ? TRUE : FALSE;
  if (reason == DLL_PROCESS_DETACH)
    Detach();
  return TRUE;
}

// Exported as DeviceIoControl (zyndata.def): the loader passes the request without the handle.
extern "C" BOOL WINAPI ZynDataControl(DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                      DWORD out_size, LPDWORD returned, LPOVERLAPPED) {
  uint32_t written = 0;
  standin::Answer answer = standin::Answer::kMapFailed;
  if (g_loaded != nullptr) {
    VxdState& state = *g_loaded->state;
    EnterCriticalSection(&state.lock);
    answer = state.device.Control(state.book, 0, code, in, in_size, out, out_size, written);
    LeaveCriticalSection(&state.lock);
  }
  if (returned != nullptr)
    *returned = written;
  if (answer == standin::Answer::kDone)
    return TRUE;
  char number[12];
  standin::TextWriter(number, sizeof number).AddDecimal(code);
  Say("request ", number,
      answer == standin::Answer::kFailing ? " failed as configured" : " refused");
  SetLastError(standin::CodeOf(answer, kErrors));
  return FALSE;
}
