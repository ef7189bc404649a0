// Talks to a stand-in driver the way zynid does and writes one `key=value` line per finding:
//   standin_client nt|9x REPORT [ROUNDS]
// nt opens \\.\ZYNDRV as the NT road does, 9x opens \\.\ZYNDATA.VXD as the 9x road does. Then a
// probe (its word primed with 0xEEEE), a get-table, the table read from its piece(s), a release,
// the same release again, and a probe with a 1-byte buffer. With ROUNDS, it then times that many
// rounds of probe, get-table and release, one `rt_<request>_us=` line each, for the figures.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/device_protocol.h"

namespace {

uint32_t Le(const unsigned char* p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i)
    v = (v << 8) | p[i];
  return v;
}

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

}  // namespace

int main(int argc, char** argv) {
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
    const uint32_t first = Le(d + kDescFirstPiece, 4);
    const uint32_t second = Le(d + kDescSecondPiece, 4);
    const uint32_t length = Le(d + kDescTableLength, 4) & 0xFFFF;
    const uint32_t head_room = kTablePageSize - first % kTablePageSize;
    const uint32_t head = second != 0 && length > head_room ? head_room : length;
    std::fprintf(report, "first=0x%08lx\nsecond=0x%08lx\nlength=%lu\ncount=%lu\n",
                 static_cast<unsigned long>(first), static_cast<unsigned long>(second),
                 static_cast<unsigned long>(length),
                 static_cast<unsigned long>(Le(d + kDescStructureCount, 2)));
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
