#include "app/win32/resource_source.h"

#include <cstring>

#include "app/program_name.h"

namespace ui {
namespace {
HMODULE g_source = nullptr;

bool IsLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}
}  // namespace

void SetResourceSource(HMODULE module) {
  g_source = module;
}

HMODULE ResourceSource() {
  return g_source != nullptr ? g_source : GetModuleHandleA(nullptr);
}

std::string LoadResourceString(unsigned id) {
  // A string table entry holds at most 65535 characters; ours are a line or two. Longer texts
  // are cut at the buffer, never written past it.
  char text[2048];
  const int length = LoadStringA(ResourceSource(), id, text, sizeof text);
  return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

std::string ProgramName() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  path[length < MAX_PATH ? length : MAX_PATH] = '\0';
  // The path is in the system's code page, where a double-byte character may end in 0x5C.
  return ProgramNameFromPath(path, IsLeadByte);
}

int MessageBoxFromString(HWND owner, unsigned id, UINT type) {
  const std::string text = LoadResourceString(id);
  const std::string caption = ProgramName();
  return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

}  // namespace ui
