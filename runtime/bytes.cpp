#include "runtime/bytes.h"

#include <cstdint>

// Plain loops: these are the routines the compiler's own memcpy and memset calls end up in, so
// they are built with those calls switched off (see CMakeLists.txt), or a loop would be turned
// back into a call to itself. The programs move at most a few kilobytes at a time.

namespace zynrt {

void* CopyBytes(void* to, const void* from, std::size_t count) {
  auto* d = static_cast<unsigned char*>(to);
  const auto* s = static_cast<const unsigned char*>(from);
  for (std::size_t i = 0; i < count; ++i)
    d[i] = s[i];
  return to;
}

void* MoveBytes(void* to, const void* from, std::size_t count) {
  auto* d = static_cast<unsigned char*>(to);
  const auto* s = static_cast<const unsigned char*>(from);
  // Addresses compared as numbers: the extents may belong to different objects.
  if (reinterpret_cast<std::uintptr_t>(d) <= reinterpret_cast<std::uintptr_t>(s)) {
    for (std::size_t i = 0; i < count; ++i)
      d[i] = s[i];
  } else {
    // The destination lies above the source: copy from the end, so that no byte is overwritten
    // before it has been read.
    for (std::size_t i = count; i > 0; --i)
      d[i - 1] = s[i - 1];
  }
  return to;
}

void* FillBytes(void* to, int value, std::size_t count) {
  auto* d = static_cast<unsigned char*>(to);
  const auto byte = static_cast<unsigned char>(value);
  for (std::size_t i = 0; i < count; ++i)
    d[i] = byte;
  return to;
}

int CompareBytes(const void* first, const void* second, std::size_t count) {
  const auto* a = static_cast<const unsigned char*>(first);
  const auto* b = static_cast<const unsigned char*>(second);
  for (std::size_t i = 0; i < count; ++i) {
    if (a[i] != b[i])
      return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

const void* FindByte(const void* bytes, int value, std::size_t count) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  const auto byte = static_cast<unsigned char>(value);
  for (std::size_t i = 0; i < count; ++i) {
    if (p[i] == byte)
      return p + i;
  }
  return nullptr;
}

std::size_t TextLength(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0')
    ++length;
  return length;
}

int CompareText(const char* first, const char* second) {
  const auto* a = reinterpret_cast<const unsigned char*>(first);
  const auto* b = reinterpret_cast<const unsigned char*>(second);
  std::size_t i = 0;
  while (a[i] != '\0' && a[i] == b[i])
    ++i;
  return a[i] == b[i] ? 0 : (a[i] < b[i] ? -1 : 1);
}

}  // namespace zynrt
