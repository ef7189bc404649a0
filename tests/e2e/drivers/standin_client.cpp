// Talks to a stand-in driver the way zynid does and writes one `key=value` line per finding:
//   standin_client nt|9x REPORT [ROUNDS]
// nt opens \\.\ZYNDRV as the NT road does, 9x opens \\.\ZYNDATA.VXD as the 9x road does. Then a
// probe (its word primed with 0xEEEE), a get-table, the table read from its piece(s), a release,
// the same release again, and a probe with a 1-byte buffer. With ROUNDS, it then times that many
// rounds of probe, get-table and release, one `rt_<request>_us=` line each, for the figures.
//   standin_client nt-hostile REPORT
// does what a local user without rights might try against ZYNDRV (see Hostile below);
//   standin_client nt-release-from DESCRIPTOR REPORT
// is the second process of that mode: it sends a release through a handle duplicated into it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/device_protocol.h"

namespace {

bool Control(HANDLE h, uint32_t code, void* in, DWORD in_size, void* out, DWORD out_size) {
  DWORD returned = 0;
  return DeviceIoControl(h, code, in, in_size, out, out_size, &returned, nullptr) != FALSE;
}

// Microseconds between two performance counter readings.
unsigned long Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<unsigned long>((to.QuadPart - from.QuadPart) * 1000000 / frequency.QuadPart);
}

// Times `rounds` rounds of the three requests as the program makes them, one line per request
// with each round's time, space-separated.
void TimeRounds(std::FILE* report, HANDLE h, int rounds, uint32_t probe, uint32_t get,
                uint32_t release) {
  std::vector<unsigned long> times[3];
  for (int i = 0; i < rounds; ++i) {
    unsigned short word = 0;
    unsigned char d[kTableDescriptorSize] = {};
    LARGE_INTEGER t[4];
    QueryPerformanceCounter(&t[0]);
    const bool probed = Control(h, probe, &word, 2, &word, 2);
    QueryPerformanceCounter(&t[1]);
    const bool got = Control(h, get, nullptr, 0, d, sizeof d);
    QueryPerformanceCounter(&t[2]);
    const bool released = got && Control(h, release, d, sizeof d, nullptr, 0);
    QueryPerformanceCounter(&t[3]);
    if (!probed || !got || !released) {
      std::fprintf(report, "rt_failed_round=%d\n", i);
      return;
    }
    for (int k = 0; k < 3; ++k)
      times[k].push_back(Microseconds(t[k], t[k + 1]));
  }
  const char* names[3] = {"probe", "get", "release"};
  for (int k = 0; k < 3; ++k) {
    std::fprintf(report, "rt_%s_us=", names[k]);
    for (unsigned long us : times[k])
      std::fprintf(report, "%lu ", us);
    std::fprintf(report, "\n");
  }
}

std::string Hex(const unsigned char* p, size_t n) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", p[i]);
    out += two;
  }
  return out;
}

HANDLE OpenNt() {
  return CreateFileA(kNtDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct Got {
  unsigned char d[kTableDescriptorSize] = {};
};

bool GetTable(HANDLE h, Got& got) {
  return Control(h, kNtGetTableRequest, nullptr, 0, got.d, sizeof got.d);
}

bool ReleaseTable(HANDLE h, Got& got) {
  return Control(h, kNtReleaseTableRequest, got.d, sizeof got.d, nullptr, 0);
}

unsigned char* FirstPiece(const Got& got) {
  return reinterpret_cast<unsigned char*>(
      static_cast<uintptr_t>(DmiTableDescriptor::Decode(got.d).FirstPiece));
}

bool Mapped(const void* address) {
  MEMORY_BASIC_INFORMATION info = {};
  return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State == MEM_COMMIT;
}

// A second process sends a release of `got` through a duplicate of `h`; what it answered.
int ReleaseFromAnotherProcess(const char* self, const char* report, HANDLE h, const Got& got) {
  const std::string child_report = std::string(report) + ".child";
  PROCESS_INFORMATION pi = {};
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  // Started suspended, so that the handle is in it before it runs; the handle's value is known
  // only then, so it goes through a file beside the report.
  std::string line = std::string("\"") + self + "\" nt-release-from " + Hex(got.d, sizeof got.d) +
                     " \"" + child_report + "\"";
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      nullptr, &si, &pi))
    return -1;
  HANDLE in_child = nullptr;
  const bool duplicated = DuplicateHandle(GetCurrentProcess(), h, pi.hProcess, &in_child, 0, FALSE,
                                          DUPLICATE_SAME_ACCESS) != FALSE;
  std::FILE* handle_file = std::fopen((child_report + ".handle").c_str(), "w");
  if (handle_file != nullptr) {
    std::fprintf(
        handle_file, "%lu\n",
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(duplicated ? in_child : 0)));
    std::fclose(handle_file);
  }
  ResumeThread(pi.hThread);
  const bool ended = WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0;
  if (!ended)
    TerminateProcess(pi.hProcess, 9);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::FILE* in = std::fopen(child_report.c_str(), "r");
  int answer = -1;
  if (in != nullptr) {
    if (std::fscanf(in, "release=%d", &answer) != 1)
      answer = -1;
    std::fclose(in);
  }
  return ended ? answer : -1;
}

// The second process: the handle's value is in REPORT.handle, written before it was resumed.
int ReleaseFrom(const char* descriptor_hex, const char* report) {
  std::FILE* handle_file = std::fopen((std::string(report) + ".handle").c_str(), "r");
  unsigned long value = 0;
  if (handle_file == nullptr || std::fscanf(handle_file, "%lu", &value) != 1)
    return 4;
  std::fclose(handle_file);
  Got got;
  for (size_t i = 0; i < sizeof got.d && descriptor_hex[2 * i] != '\0'; ++i) {
    unsigned int byte = 0;
    std::sscanf(descriptor_hex + 2 * i, "%2x", &byte);
    got.d[i] = static_cast<unsigned char>(byte);
  }
  std::FILE* out = std::fopen(report, "w");
  if (out == nullptr)
    return 3;
  std::fprintf(out, "release=%d\n",
               ReleaseTable(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)), got) ? 1 : 0);
  return std::fclose(out) == 0 ? 0 : 3;
}

// What a local user without rights might try:
// * a second open still gets a table while the first holds all it may hold;
// * a handed-out view cannot be made writable, and the next caller sees the table unchanged;
// * a release sent from another process, through a duplicated handle, unmaps nothing.
int Hostile(const char* self, const char* path) {
  std::FILE* report = std::fopen(path, "w");
  if (report == nullptr)
    return 3;
  HANDLE first = OpenNt();
  HANDLE second = OpenNt();
  std::fprintf(report, "open=%d\n",
               first != INVALID_HANDLE_VALUE && second != INVALID_HANDLE_VALUE ? 1 : 0);
  if (first == INVALID_HANDLE_VALUE || second == INVALID_HANDLE_VALUE)
    return std::fclose(report) == 0 ? 0 : 3;

  constexpr int kTries = 20;
  Got held[kTries];
  int count = 0;
  while (count < kTries && GetTable(first, held[count]))
    ++count;
  std::fprintf(report, "first_open_tables=%d\n", count);
  Got other;
  std::fprintf(report, "second_open_get=%d\n", GetTable(second, other) ? 1 : 0);
  for (int i = 1; i < count; ++i)
    ReleaseTable(first, held[i]);
  if (count == 0)
    return std::fclose(report) == 0 ? 0 : 3;

  unsigned char* table = FirstPiece(held[0]);
  const unsigned char original = *table;
  // Read-write would change the table for everyone; write-copy would change only this
  // process's copy, so a write through it is harmless to the next caller.
  unsigned char* page = table - DmiTableDescriptor::Decode(held[0].d).FirstPiece % kTablePageSize;
  DWORD old = 0;
  const bool raised = VirtualProtect(page, kTablePageSize, PAGE_READWRITE, &old) != FALSE;
  const bool copy = !raised && VirtualProtect(page, kTablePageSize, PAGE_WRITECOPY, &old) != FALSE;
  std::fprintf(report, "raise_to_read_write=%d\n", raised ? 1 : 0);
  if (raised || copy)
    *table = static_cast<unsigned char>(original ^ 0xFF);
  Got fresh;
  const bool got_fresh = GetTable(second, fresh);
  std::fprintf(report, "next_caller_sees_the_table=%d\n",
               got_fresh && *FirstPiece(fresh) == original ? 1 : 0);
  if (got_fresh)
    ReleaseTable(second, fresh);

  std::fprintf(report, "release_from_another_process=%d\n",
               ReleaseFromAnotherProcess(self, path, first, held[0]));
  std::fprintf(report, "view_kept=%d\n", Mapped(table) ? 1 : 0);
  std::fprintf(report, "release_by_owner=%d\n", ReleaseTable(first, held[0]) ? 1 : 0);
  CloseHandle(second);
  CloseHandle(first);
  return std::fclose(report) == 0 ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "nt-hostile") == 0)
    return Hostile(argv[0], argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "nt-release-from") == 0)
    return ReleaseFrom(argv[2], argv[3]);
  if (argc != 3 && argc != 4)
    return 2;
  const bool nt = std::strcmp(argv[1], "nt") == 0;
  std::FILE* report = std::fopen(argv[2], "w");
  if (report == nullptr)
    return 3;
  const uint32_t probe = nt ? kNtProbeRequest : kVxdProbeRequest;
  const uint32_t get = nt ? kNtGetTableRequest : kVxdGetTableRequest;
  const uint32_t release = nt ? kNtReleaseTableRequest : kVxdReleaseTableRequest;

  HANDLE h = nt ? CreateFileA(kNtDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                : CreateFileA(kVxdDevicePath, 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  std::fprintf(report, "open=%d\nopen_error=%lu\n", h != INVALID_HANDLE_VALUE ? 1 : 0,
               h != INVALID_HANDLE_VALUE ? 0ul : static_cast<unsigned long>(GetLastError()));
  if (h == INVALID_HANDLE_VALUE)
    return std::fclose(report) == 0 ? 0 : 3;

  unsigned short word = 0xEEEE;
  std::fprintf(report, "probe=%d\n", Control(h, probe, &word, 2, &word, 2) ? 1 : 0);
  std::fprintf(report, "probe_word=0x%04x\n", word);
  std::fprintf(report, "probe_short_buffer=%d\n", Control(h, probe, &word, 1, &word, 1) ? 1 : 0);

  unsigned char d[kTableDescriptorSize] = {};
  const bool got = Control(h, get, nullptr, 0, d, sizeof d);
  std::fprintf(report, "get=%d\n", got ? 1 : 0);
  if (got) {
    const DmiTableDescriptor got_d = DmiTableDescriptor::Decode(d);
    const uint32_t first = got_d.FirstPiece;
    const uint32_t second = got_d.SecondPiece;
    const uint32_t length = got_d.TableLength & 0xFFFF;
    const uint32_t head_room = kTablePageSize - first % kTablePageSize;
    const uint32_t head = second != 0 && length > head_room ? head_room : length;
    std::fprintf(report, "first=0x%08lx\nsecond=0x%08lx\nlength=%lu\ncount=%lu\n",
                 static_cast<unsigned long>(first), static_cast<unsigned long>(second),
                 static_cast<unsigned long>(length),
                 static_cast<unsigned long>(got_d.StructureCount));
    MEMORY_BASIC_INFORMATION info = {};
    VirtualQuery(reinterpret_cast<void*>(first), &info, sizeof info);
    std::fprintf(report, "first_protect=0x%lx\n", static_cast<unsigned long>(info.Protect));
    const uint32_t page_end = first - first % kTablePageSize + kTablePageSize;
    std::fprintf(report, "after_head_page_readable=%d\n",
                 IsBadReadPtr(reinterpret_cast<void*>(page_end), 1) ? 0 : 1);
    std::vector<unsigned char> table(length);
    std::memcpy(table.data(), reinterpret_cast<void*>(first), head);
    if (length > head)
      std::memcpy(table.data() + head, reinterpret_cast<void*>(second), length - head);
    std::fprintf(report, "table=");
    for (unsigned char b : table)
      std::fprintf(report, "%02x", b);
    std::fprintf(report, "\nrelease=%d\n", Control(h, release, d, sizeof d, nullptr, 0) ? 1 : 0);
    std::fprintf(report, "release_again=%d\n",
                 Control(h, release, d, sizeof d, nullptr, 0) ? 1 : 0);
  }
  if (argc == 4)
    TimeRounds(report, h, std::atoi(argv[3]), probe, get, release);
  CloseHandle(h);
  return std::fclose(report) == 0 ? 0 : 3;
}
