// cdlaunch: the autorun program of the Tessarine product CD. One modal dialog with Install, which
// starts setup.exe from the current directory, and Exit.
//
// The program links no C or C++ runtime (it fits in a few kilobytes and imports only kernel32,
// user32 and gdi32): the start-up that calls WinMain is runtime/'s, and it uses no library calls
// of its own.
#include <windows.h>

#include "launcher/launch_path.h"
#include "launcher/resource.h"
#include "runtime/owner.h"
#include "runtime/win32_handles.h"

namespace {

struct FontKind {
  using Handle = HFONT;
  static HFONT Empty() { return nullptr; }
  static bool Holds(HFONT font) { return font != nullptr; }
  static void Release(HFONT font) { DeleteObject(font); }
};

// The dialog's fonts: created when it initialises, deleted once it is gone, when the modal loop
// has returned, so that nothing draws with them afterwards.
struct LauncherFonts {
  zynrt::Owner<FontKind> TitleFont;
  zynrt::Owner<FontKind> NoticeFont;
};

const char kProductTitle[] = "Tessarine 1.0";
// Short enough for its 111 dialog units in the notice font.
const char kLegalNotice[] = "(C) Tessarine. All rights reserved.";

bool IsLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}

HFONT CreateLauncherFont(int height, int weight) {
  return CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0,
                     VARIABLE_PITCH | FF_SWISS, "");
}

void SetTextAndFont(HWND dialog, int id, const char* text, HFONT font) {
  SetDlgItemTextA(dialog, id, text);
  SendMessageA(GetDlgItem(dialog, id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// Hidden while the texts and fonts change, so the user never sees the template's placeholders.
// No focus is set here: the dialog manager gives it to the first tab stop, Install.
INT_PTR InitialiseDialog(HWND dialog, LauncherFonts& fonts) {
  ShowWindow(dialog, SW_HIDE);
  fonts.TitleFont.Reset(CreateLauncherFont(20, FW_BOLD));
  fonts.NoticeFont.Reset(CreateLauncherFont(14, FW_DONTCARE));
  SetTextAndFont(dialog, IDC_TITLE, kProductTitle, fonts.TitleFont.get());
  SetTextAndFont(dialog, IDC_NOTICE, kLegalNotice, fonts.NoticeFont.get());
  ShowWindow(dialog, SW_SHOW);
  return 0;
}

INT_PTR EndLauncherDialog(HWND dialog) {
  EndDialog(dialog, 1);
  return 1;
}

}  // namespace

// Starts setup.exe from the current directory in a console of its own, without waiting for it.
// Answers 1 when it was started; otherwise tells the user and answers 0.
int LaunchSetupProgram() {
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  char path[cdlaunch::kTextBufferChars];
  char message[cdlaunch::kTextBufferChars];

  GetStartupInfoA(&startup);
  DWORD directoryLength = GetCurrentDirectoryA(sizeof path, path);
  if (cdlaunch::CompleteSetupPath(path, sizeof path, directoryLength, IsLeadByte) &&
      CreateProcessA(path, nullptr, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                     &startup, &process)) {
    // Not waited for: both handles are closed at once, the thread's first.
    const win32::KernelHandle setup_process(process.hProcess);
    const win32::KernelHandle setup_thread(process.hThread);
    return 1;
  }
  char shortened[sizeof message];
  wsprintfA(message, cdlaunch::kFailureFormat,
            cdlaunch::ShownPath(path, shortened, sizeof message, IsLeadByte));
  MessageBoxA(nullptr, message, cdlaunch::kFailureCaption, MB_OK);
  return 0;
}

// Only Install that worked and Exit end the dialog; Escape and close requests arrive as IDCANCEL
// and are ignored, so the launcher stays until the user decides.
INT_PTR CALLBACK LauncherDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG)
    return InitialiseDialog(dialog, *reinterpret_cast<LauncherFonts*>(lParam));
  if (message != WM_COMMAND)
    return 0;
  switch (LOWORD(wParam)) {
    case IDOK:
      return LaunchSetupProgram() ? EndLauncherDialog(dialog) : 0;
    case IDC_EXIT:
      return EndLauncherDialog(dialog);
    default:
      return 0;
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  LauncherFonts fonts;
  DialogBoxParamA(instance, "Setup", nullptr, LauncherDialogProc, reinterpret_cast<LPARAM>(&fonts));
  return 1;
}
