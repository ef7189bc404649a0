#include "launcher/launch_path.h"

#include <cstring>

namespace cdlaunch {

const char kSetupFileName[] = "setup.exe";
const char kFailureFormat[] =
    "Unable to launch Tessarine Setup\n%s\nMake sure correct CD is inserted.";
const char kFailureCaption[] = "Autorun Setup Error";

namespace {

// The length of `s`, of which at most `limit` characters are read.
unsigned Length(const char* s, unsigned limit) {
  const void* end = std::memchr(s, '\0', limit);
  return end != nullptr ? static_cast<unsigned>(static_cast<const char*>(end) - s) : limit;
}

// Offset of the character that starts at or after `from`, walking characters from the front.
unsigned CharacterStartAtOrAfter(const char* s, unsigned length, unsigned from,
                                 LeadBytePredicate isLeadByte) {
  unsigned i = 0;
  while (i < from && i < length)
    i += (isLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < length) ? 2 : 1;
  return i;
}

bool EndsWithBackslash(const char* s, unsigned length, LeadBytePredicate isLeadByte) {
  unsigned last = 0;
  for (unsigned i = 0; i < length;) {
    last = i;
    i += (isLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < length) ? 2 : 1;
  }
  return length > 0 && last == length - 1 && s[last] == '\\';
}

}  // namespace

bool CompleteSetupPath(char* path, unsigned capacity, unsigned long directoryLength,
                       LeadBytePredicate isLeadByte) {
  const unsigned nameLength = sizeof kSetupFileName - 1;
  if (directoryLength == 0 || directoryLength >= capacity) {
    std::memcpy(path, kSetupFileName, sizeof kSetupFileName);
    return false;
  }
  // Trust the answered length only as far as the text really goes.
  unsigned length = Length(path, static_cast<unsigned>(directoryLength));
  bool separator = !EndsWithBackslash(path, length, isLeadByte);
  if (length == 0 || length + separator + nameLength >= capacity) {
    std::memcpy(path, kSetupFileName, sizeof kSetupFileName);
    return false;
  }
  if (separator)
    path[length++] = '\\';
  std::memcpy(path + length, kSetupFileName, sizeof kSetupFileName);
  return true;
}

const char* ShownPath(const char* path, char* scratch, unsigned messageCapacity,
                      LeadBytePredicate isLeadByte) {
  const unsigned fixed = sizeof kFailureFormat - 1 - 2;  // the format without "%s"
  const char ellipsis[] = "...";
  if (messageCapacity <= fixed + sizeof ellipsis) {  // not even "..." would fit
    scratch[0] = '\0';
    return scratch;
  }
  const unsigned room = messageCapacity - 1 - fixed;  // characters left for the path
  unsigned length = Length(path, kTextBufferChars);
  if (length <= room)
    return path;
  unsigned from =
      CharacterStartAtOrAfter(path, length, length - (room - (sizeof ellipsis - 1)), isLeadByte);
  std::memcpy(scratch, ellipsis, sizeof ellipsis);
  unsigned n = sizeof ellipsis - 1;
  for (unsigned i = from; i < length; ++i)
    scratch[n++] = path[i];
  scratch[n] = '\0';
  return scratch;
}

}  // namespace cdlaunch
