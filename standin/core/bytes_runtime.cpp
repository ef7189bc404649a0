// The four byte routines the compiler may call on its own (structure copies and clears). The
// stand-ins link no C runtime, so they bring their own.
#include <stddef.h>

extern "C" {

void* memcpy(void* to, const void* from, size_t n) {
  auto* d = static_cast<unsigned char*>(to);
  const auto* s = static_cast<const unsigned char*>(from);
  for (size_t i = 0; i < n; ++i)
    d[i] = s[i];
  return to;
}

void* memmove(void* to, const void* from, size_t n) {
  auto* d = static_cast<unsigned char*>(to);
  const auto* s = static_cast<const unsigned char*>(from);
  if (d < s) {
    for (size_t i = 0; i < n; ++i)
      d[i] = s[i];
  } else {
    for (size_t i = n; i > 0; --i)
      d[i - 1] = s[i - 1];
  }
  return to;
}

void* memset(void* to, int value, size_t n) {
  auto* d = static_cast<unsigned char*>(to);
  for (size_t i = 0; i < n; ++i)
    d[i] = static_cast<unsigned char>(value);
  return to;
}

int memcmp(const void* a, const void* b, size_t n) {
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < n; ++i) {
    if (x[i] != y[i])
      return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

}  // extern "C"
