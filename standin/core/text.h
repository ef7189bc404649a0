// Small byte and text helpers for code that runs without a C runtime (the kernel driver and the
// in-process VxD stand-in): no allocation, every write bounded by the buffer it is given.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "runtime/bytes.h"

namespace standin {

using zynrt::CopyBytes;
using zynrt::FillBytes;
using zynrt::TextLength;
inline bool SameBytes(const void* a, const void* b, size_t n) {
  return zynrt::CompareBytes(a, b, n) == 0;
}

// The text for an enumerator from a table in the enumeration's order, or `otherwise` for a value
// past its end. The table must hold one text for each enumerator up to `kLast`, so that adding an
// enumerator without its text fails to compile.
template <auto kLast, size_t N>
const char* TextFor(const char* const (&texts)[N], decltype(kLast) value, const char* otherwise) {
  static_assert(N == static_cast<size_t>(kLast) + 1, "one text for each enumerator");
  const size_t at = static_cast<size_t>(value);
  return at < N ? texts[at] : otherwise;
}

// Appends to a fixed buffer and keeps it NUL-terminated; what does not fit is dropped and
// remembered, so a caller can tell a cut message (or refuse a cut path).
class TextWriter {
 public:
  TextWriter(char* buffer, size_t size);
  TextWriter& Add(const char* text);
  TextWriter& Add(const char* text, size_t length);
  TextWriter& AddDecimal(uint32_t value);
  TextWriter& AddHex(uint32_t value);  // 0x-prefixed, lower case
  TextWriter& AddChar(char c);
  bool complete() const { return complete_; }
  size_t length() const { return length_; }

 private:
  char* buffer_;
  size_t size_;
  size_t length_ = 0;
  bool complete_ = true;
};

}  // namespace standin
