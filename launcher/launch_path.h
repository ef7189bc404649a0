// The launcher's text handling, kept apart from Windows so that tests can drive every length:
// composing the setup program's path and choosing the path that the failure message shows.
//
// Both work in the launcher's fixed 256-character buffers and never write past them. A directory
// that could not be read, or that leaves no room for "\setup.exe", is not launched from at all:
// the path is then just "setup.exe" and the user sees the usual failure message naming it. A path
// too long for the message shows as "..." followed by its end, so "setup.exe" stays visible.
#ifndef ZYN_LAUNCHER_LAUNCH_PATH_H
#define ZYN_LAUNCHER_LAUNCH_PATH_H

namespace cdlaunch {

constexpr unsigned kTextBufferChars = 256;

extern const char kSetupFileName[];   // "setup.exe"
extern const char kFailureFormat[];   // the three-line failure message, "%s" the path
extern const char kFailureCaption[];  // "Autorun Setup Error"

// Answers whether a byte starts a two-byte character in the code page in use (IsDBCSLeadByte on
// Windows). A trail byte may be 0x5C, the backslash, so the last character is found from the front.
using LeadBytePredicate = bool (*)(unsigned char);

// `path` holds what GetCurrentDirectoryA wrote into it for a buffer of `capacity` characters and
// `directoryLength` is what it answered: the length on success, 0 on failure, the size it needed
// when the buffer was too small. Appends "\" when the directory does not already end in one, then
// "setup.exe", and answers true. Answers false, with `path` set to "setup.exe", when the directory
// is unusable or the result would not fit. Writes at most `capacity` characters (capacity >= 10).
bool CompleteSetupPath(char* path, unsigned capacity, unsigned long directoryLength,
                       LeadBytePredicate isLeadByte);

// Chooses the text for "%s" so that the formatted failure message, NUL included, fits in
// `messageCapacity` characters: `path` itself when it fits, otherwise "..." and the path's end
// (cut at a character boundary) written into `scratch` of `messageCapacity` characters.
const char* ShownPath(const char* path, char* scratch, unsigned messageCapacity,
                      LeadBytePredicate isLeadByte);

}  // namespace cdlaunch

#endif
