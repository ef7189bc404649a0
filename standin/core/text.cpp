#include "standin/core/text.h"

namespace standin {

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
