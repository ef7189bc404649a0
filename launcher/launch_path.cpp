#include "launcher/launch_path.h"

namespace cdlaunch {

const char kSetupFileName[] = "setup.exe";
const char kFailureFormat[] =
    "Unable to launch Tessarine Setup\n%s\nMake sure correct CD is inserted.";
const char kFailureCaption[] = "Autorun Setup Error";

namespace {

// The launcher links no C runtime, so the few string routines it needs are its own.
unsigned Length(const char* s, unsigned limit) {
  unsigned n = 0;
  while (n < limit && s[n] != '\0')
    ++n;
  return n;
}

void CopyFrom(char* to, const char* from) {
  while ((*to++ = *from++) != '\0') {
  }
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
    CopyFrom(path, kSetupFileName);
    return false;
  }
  // Trust the answered length only as far as the text really goes.
  unsigned length = Length(path, static_cast<unsigned>(directoryLength));
  bool separator = !EndsWithBackslash(path, length, isLeadByte);
  if (length == 0 || length + separator + nameLength >= capacity) {
    CopyFrom(path, kSetupFileName);
    return false;
  }
  if (separator)
    path[length++] = '\\';
  CopyFrom(path + length, kSetupFileName);
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
  CopyFrom(scratch, ellipsis);
  unsigned n = sizeof ellipsis - 1;
  for (unsigned i = from; i < length; ++i)
    scratch[n++] = path[i];
  scratch[n] = '\0';
  return scratch;
}

}  // namespace cdlaunch
