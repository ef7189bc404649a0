#include "app/program_name.h"

std::string ProgramNameFromPath(const char* path, LeadBytePredicate isLeadByte) {
  const char* name = path;
  const char* dot = nullptr;
  const char* p = path;
  while (*p != '\0') {
    if (isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      p += 2;  // a double-byte character: its second byte is never a separator
      continue;
    }
    if (*p == '\\' || *p == '/' || *p == ':') {
      name = p + 1;
      dot = nullptr;
    } else if (*p == '.') {
      dot = p;
    }
    ++p;
  }
  return dot != nullptr ? std::string(name, dot) : std::string(name);
}
