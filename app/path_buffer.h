// Paths are composed in fixed buffers of win32::kMaxPath bytes, the platform's own path limit. A
// registry value may fill such a buffer without a terminator, and a long install directory may
// leave no room for the parts appended to it; both are caught here rather than read or written
// past.
#pragma once

#include <cstddef>
#include <cstring>

#include "protocol/win32_numbers.h"

// True when `buffer` holds a terminator within its `size` bytes.
inline bool IsTerminatedWithin(const char* buffer, std::size_t size) {
  return std::memchr(buffer, '\0', size) != nullptr;
}

// Appends `tail` to the terminated text in `buffer` when the whole result, terminator included,
// fits in `size` bytes. Otherwise the buffer is left untouched and false is returned.
inline bool AppendWithinBuffer(char* buffer, std::size_t size, const char* tail) {
  const void* end = std::memchr(buffer, '\0', size);
  if (end == nullptr)
    return false;
  const std::size_t used = static_cast<const char*>(end) - buffer;
  const std::size_t extra = std::strlen(tail);
  if (extra >= size - used)
    return false;  // room left is size - used, terminator included
  std::memcpy(buffer + used, tail, extra + 1);
  return true;
}
