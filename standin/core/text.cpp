#include "text.h"

namespace standin {

void CopyBytes(void* to, const void* from, size_t n) {
  auto* d = static_cast<uint8_t*>(to);
  const auto* s = static_cast<const uint8_t*>(from);
  for (size_t i = 0; i < n; ++i)
    d[i] = s[i];
}

void FillBytes(void* to, uint8_t value, size_t n) {
  auto* d = static_cast<uint8_t*>(to);
  for (size_t i = 0; i < n; ++i)
    d[i] = value;
}

bool SameBytes(const void* a, const void* b, size_t n) {
  const auto* x = static_cast<const uint8_t*>(a);
  const auto* y = static_cast<const uint8_t*>(b);
  for (size_t i = 0; i < n; ++i) {
    if (x[i] != y[i])
      return false;
  }
  return true;
}

size_t TextLength(const char* text) {
  size_t n = 0;
  while (text[n] != '\0')
    ++n;
  return n;
}

TextWriter::TextWriter(char* buffer, size_t size) : buffer_(buffer), size_(size) {
  if (size_ > 0)
    buffer_[0] = '\0';
  else
    complete_ = false;
}

TextWriter& TextWriter::AddChar(char c) {
  if (size_ == 0 || length_ + 1 >= size_) {
    complete_ = false;
    return *this;
  }
  buffer_[length_++] = c;
  buffer_[length_] = '\0';
  return *this;
}

TextWriter& TextWriter::Add(const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    AddChar(text[i]);
  return *this;
}

TextWriter& TextWriter::Add(const char* text) {
  return Add(text, TextLength(text));
}

TextWriter& TextWriter::AddDecimal(uint32_t value) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0)
    AddChar(digits[--n]);
  return *this;
}

TextWriter& TextWriter::AddHex(uint32_t value) {
  Add("0x");
  char digits[8];
  int n = 0;
  do {
    digits[n++] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (n > 0)
    AddChar(digits[--n]);
  return *this;
}

}  // namespace standin
