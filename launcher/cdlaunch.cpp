// cdlaunch: the autorun program of the Tessarine product CD. One modal dialog with Install, which
// starts setup.exe from the current directory, and Exit.
//
// The program links no C or C++ runtime (it fits in a few kilobytes and imports only kernel32,
// user32 and gdi32): the start-up that calls WinMain and the byte routines behind memcpy and
// memchr are runtime/'s, the runtime of every image we build.
#include <windows.h>

#include "launcher/launch_path.h"
#include "launcher/resource.h"
#include "runtime/win32_handles.h"

namespace {

// The dialog's fonts, made when it initialises and deleted as it ends.
HFONT TitleFont;
HFONT NoticeFont;

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
INT_PTR InitialiseDialog(HWND dialog) {
  ShowWindow(dialog, SW_HIDE);
  TitleFont = CreateLauncherFont(20, FW_BOLD);
  NoticeFont = CreateLauncherFont(14, FW_DONTCARE);
  SetTextAndFont(dialog, IDC_TITLE, kProductTitle, TitleFont);
  SetTextAndFont(dialog, IDC_NOTICE, kLegalNotice, NoticeFont);
  ShowWindow(dialog, SW_SHOW);
  return 0;
}

// EndDialog only marks the dialog as ended: the modal loop destroys it as soon as this message
// has been handled, before its controls draw again, so the fonts can go at once.
INT_PTR EndLauncherDialog(HWND dialog) {
  EndDialog(dialog, 1);
  DeleteObject(TitleFont);
  DeleteObject(NoticeFont);
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
INT_PTR CALLBACK LauncherDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG)
    return InitialiseDialog(dialog);
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
  DialogBoxParamA(instance, "Setup", nullptr, LauncherDialogProc, 0);
  return 1;
}
