// The resource source of the UI layer: the module that dialog templates, strings and icons are
// looked up in by number, and the small helpers that read from it.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

// Until a library is set, the program's own module is the source (it holds no resources).
void SetResourceSource(HMODULE module);
HMODULE ResourceSource();

// String `id` of the resource source, in the ANSI code page; empty when it is missing.
std::string LoadResourceString(unsigned id);

// The program's file name without directory and extension, e.g. "zynid".
std::string ProgramName();

// Modal message box with string `id` as its text and the program's name as its caption.
int MessageBoxFromString(HWND owner, unsigned id, UINT type);

}  // namespace ui
