// The least program that shows the agreement dialog (108) of a resource library: the baseline
// that scripts/measure-startup.py compares zynid's start-up against. Argument: the library path.
#include <windows.h>

namespace {
INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG)
    return TRUE;
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    EndDialog(window, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  HMODULE library = LoadLibraryA(command_line);
  if (library == nullptr)
    return 2;
  return static_cast<int>(DialogBoxParamA(library, MAKEINTRESOURCEA(108), nullptr, &Procedure, 0));
}
