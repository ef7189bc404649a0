// The byte and text routines behind memcpy, memmove, memset, memcmp, memchr, strlen and strcmp in
// the Windows programs, which link no C runtime. Portable, so that the native unit tests run the
// very loops the programs use; c_functions.cpp gives them their C names on Windows only.
#pragma once

#include <cstddef>

namespace zynrt {

// memcpy: the extents must not overlap.
void* CopyBytes(void* to, const void* from, std::size_t count);
// memmove: the extents may overlap in either direction.
void* MoveBytes(void* to, const void* from, std::size_t count);
// memset: every byte set to the low 8 bits of `value`.
void* FillBytes(void* to, int value, std::size_t count);
// memcmp: bytes compared as unsigned; negative, 0 or positive.
int CompareBytes(const void* first, const void* second, std::size_t count);
// memchr: the first byte equal to the low 8 bits of `value`, or null.
const void* FindByte(const void* bytes, int value, std::size_t count);
// strlen.
std::size_t TextLength(const char* text);
// strcmp: characters compared as unsigned; negative, 0 or positive.
int CompareText(const char* first, const char* second);

}  // namespace zynrt
