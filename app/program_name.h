// The program's name as the message boxes show it in their caption: the file name of the
// program's path, without directory and extension. Portable, so that tests can drive it with the
// lead-byte rule of any code page.
#pragma once

#include <string>

// Answers whether a byte starts a two-byte character in the code page of the text (IsDBCSLeadByte
// on Windows). In code pages 932, 936 and 950 the second byte may be 0x5C, the backslash.
using LeadBytePredicate = bool (*)(unsigned char);

// The part of `path` (ANSI text, NUL-terminated) after its last '\', '/' or ':', without the last
// '.' and what follows it. Characters are walked from the front, so a trail byte that reads as a
// backslash or a dot is never taken for one. A lead byte right before the end stands alone.
std::string ProgramNameFromPath(const char* path, LeadBytePredicate isLeadByte);
