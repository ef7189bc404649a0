#include "table_path.h"

#include "text.h"

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

}  // namespace

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

}  // namespace standin
