#include "standin/core/table_path.h"

#include "standin/core/text.h"

namespace standin {
namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Appends `text` with every separator written as a back slash.
void AddNative(TextWriter& w, const char* text) {
  for (; *text != '\0'; ++text)
    w.AddChar(IsSeparator(*text) ? '\\' : *text);
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether the `length` bytes at `name` are one of Win32's reserved device names.
bool IsDeviceName(const char* name, size_t length) {
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"};
  for (const char* device : kNames) {
    size_t i = 0;
    while (i < length && device[i] != '\0' && Upper(name[i]) == device[i])
      ++i;
    if (i == length && device[i] == '\0')
      return true;
  }
  // COM1 to COM9 and LPT1 to LPT9.
  return length == 4 && name[3] >= '1' && name[3] <= '9' &&
         ((Upper(name[0]) == 'C' && Upper(name[1]) == 'O' && Upper(name[2]) == 'M') ||
          (Upper(name[0]) == 'L' && Upper(name[1]) == 'P' && Upper(name[2]) == 'T'));
}

}  // namespace

bool IsPlainFileName(const char* name) {
  const size_t n = TextLength(name);
  if (n == 0 || name[n - 1] == '.' || name[n - 1] == ' ')
    return false;   // also "." and ".."
  size_t base = n;  // the name before its first dot, trailing spaces dropped as Win32 does
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F || IsSeparator(name[i]) || name[i] == ':' || name[i] == '*' ||
        name[i] == '?' || name[i] == '"' || name[i] == '<' || name[i] == '>' || name[i] == '|')
      return false;
    if (name[i] == '.' && base == n)
      base = i;
  }
  while (base > 0 && name[base - 1] == ' ')
    --base;
  return !IsDeviceName(name, base);
}

bool IsAbsolutePath(const char* path) {
  return IsSeparator(path[0]) || (IsLetter(path[0]) && path[1] == ':');
}

bool FolderOf(const char* file, char* out, size_t out_size) {
  size_t end = 0;
  for (size_t i = 0; file[i] != '\0'; ++i) {
    if (IsSeparator(file[i]))
      end = i + 1;
  }
  TextWriter w(out, out_size);
  w.Add(file, end);
  return w.complete();
}

bool ResolvePath(const char* folder, const char* value, char* out, size_t out_size) {
  TextWriter w(out, out_size);
  if (!IsAbsolutePath(value)) {
    w.Add(folder);
    const size_t n = TextLength(folder);
    if (n > 0 && !IsSeparator(folder[n - 1]))
      w.AddChar('\\');
  }
  w.Add(value);
  return w.complete();
}

bool ToNativePath(const char* path, char* out, size_t out_size) {
  TextWriter w(out, out_size);
  if (IsLetter(path[0]) && path[1] == ':') {
    w.Add("\\??\\");
    AddNative(w, path);
  } else if (IsSeparator(path[0]) && IsSeparator(path[1])) {
    if ((path[2] == '?' || path[2] == '.') && IsSeparator(path[3])) {
      w.Add("\\??\\");
      AddNative(w, path + 4);
    } else {
      w.Add("\\??\\UNC\\");
      AddNative(w, path + 2);
    }
  } else if (IsSeparator(path[0])) {
    AddNative(w, path);
  } else {
    w.Add("\\SystemRoot\\");
    AddNative(w, path);
  }
  return w.complete();
}

namespace {

// A 64-bit finaliser whose every output bit depends on every input bit.
uint64_t Scramble(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

void NameDraw::Mix(uint64_t reading) {
  state_ = Scramble(state_ ^ Scramble(reading + 0x9E3779B97F4A7C15ull));
}

uint64_t NameDraw::Next() {
  // The count keeps successive draws apart even when no reading changed between them.
  return Scramble(state_ + 0x9E3779B97F4A7C15ull * ++count_);
}

bool TableFileName(const char* folder, uint64_t draw, char* out, size_t out_size) {
  TextWriter w(out, out_size);
  w.Add(folder).Add("ZYNDRV-");
  for (int shift = 60; shift >= 0; shift -= 4)
    w.AddChar("0123456789abcdef"[(draw >> shift) & 0xF]);
  return w.Add(".tmp").complete();
}

}  // namespace standin
