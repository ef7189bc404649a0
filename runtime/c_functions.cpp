// The C library functions that the compiler calls on its own (structure copies and clears) and
// that the programs and the standard headers' inline code call, under their C names. Windows
// only: natively the C library has them.
#include <cstddef>

#include "runtime/bytes.h"

extern "C" {

void* memcpy(void* to, const void* from, std::size_t count) {
  return zynrt::CopyBytes(to, from, count);
}

void* memmove(void* to, const void* from, std::size_t count) {
  return zynrt::MoveBytes(to, from, count);
}

void* memset(void* to, int value, std::size_t count) {
  return zynrt::FillBytes(to, value, count);
}

int memcmp(const void* first, const void* second, std::size_t count) {
  return zynrt::CompareBytes(first, second, count);
}

void* memchr(const void* bytes, int value, std::size_t count) {
  return const_cast<void*>(zynrt::FindByte(bytes, value, count));
}

std::size_t strlen(const char* text) {
  return zynrt::TextLength(text);
}

int strcmp(const char* first, const char* second) {
  return zynrt::CompareText(first, second);
}

}  // extern "C"
