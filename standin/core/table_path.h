// Paths the stand-ins work out for themselves: the folder of their own image, the table file a
// configuration names, and (for the kernel driver) the native form of a Win32 path. Forward and
// back slashes are both separators. Every result is written into a caller's buffer; false when
// it does not fit (nothing half-written is used).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace standin {

// "\x", "/x" (a root or a UNC path) and "X:..." are absolute; anything else is relative.
bool IsAbsolutePath(const char* path);

// True for a plain file name that names a file in the folder it is resolved against, on both
// families and whichever layer opens it: no separator, no drive, stream or device prefix (so no
// absolute, UNC, "\\.\" or "..\" path), not "." or "..", no wildcard or control character, no
// trailing dot or space (which Win32 drops and the kernel keeps) and no DOS device name such as
// NUL or COM1 (which Win32 opens as the device, extension or not).
bool IsPlainFileName(const char* name);

// The folder of `file`, with its trailing separator ("C:\zyn\" for "C:\zyn\ZYNDRV.sys"); empty
// when `file` has no separator.
bool FolderOf(const char* file, char* out, size_t out_size);

// `value` as it is when absolute, else `folder` (as FolderOf gives it) followed by `value`.
bool ResolvePath(const char* folder, const char* value, char* out, size_t out_size);

// The kernel's form of a path, with back slashes only: "C:\x" -> "\??\C:\x",
// "\\server\share\x" -> "\??\UNC\server\share\x", "\\?\C:\x" or "\\.\C:\x" -> "\??\C:\x",
// other paths that start with a separator (already native: "\??\...", "\SystemRoot\...") stay,
// and relative ones are taken from the system root, as the service manager's image paths are.
bool ToNativePath(const char* path, char* out, size_t out_size);

// Names for the kernel driver's table file in the system's temporary folder, where any user may
// create files: a name someone could work out beforehand could be created first, and then every
// attempt to create the file would collide and the driver would not start. Each draw mixes
// readings nobody outside the kernel can know (fine-grained counters, addresses) into a 64-bit
// state; every attempt mixes in fresh readings and draws anew, so the names never repeat and
// cannot be told in advance.
class NameDraw {
 public:
  void Mix(uint64_t reading);
  uint64_t Next();

 private:
  uint64_t state_ = 0;
  uint64_t count_ = 0;
};

// With names nobody can foresee, a collision is chance; this many make one that stops the
// driver out of the question.
inline constexpr uint32_t kTableFileAttempts = 64;

// `folder` (ending in a separator) + "ZYNDRV-" + the draw in 16 hex digits + ".tmp".
bool TableFileName(const char* folder, uint64_t draw, char* out, size_t out_size);

}  // namespace standin
