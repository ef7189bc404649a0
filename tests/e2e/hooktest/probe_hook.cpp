// WH_GETMESSAGE hooks that winprobe's "hook" command installs inside a target.
//
// ProbeHookProc proves the command itself: it answers the registered message "winprobe.selftest"
// with the number of items of the window's system menu, something no other process can read.
//
// SyncHookProc answers "winprobe.sync" with "synced". The hook sees a posted message when the
// target's loop takes it from its queue, and a loop takes the next message only after it has
// handled the one before: so the answer proves that everything posted to that thread earlier
// has been handled. A negative check ("the dialog is still open after X") waits for this answer
// instead of for a short time.
#include <windows.h>

#include <cwchar>

namespace {
void Answer(const MSG* m, const wchar_t* text) {
  COPYDATASTRUCT answer = {0, static_cast<DWORD>(std::wcslen(text) * sizeof(wchar_t)),
                           const_cast<wchar_t*>(text)};
  SendMessageW(reinterpret_cast<HWND>(m->wParam), WM_COPYDATA, reinterpret_cast<WPARAM>(m->hwnd),
               reinterpret_cast<LPARAM>(&answer));
}
}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeHookProc(int code, WPARAM wp, LPARAM lp) {
  static const UINT question = RegisterWindowMessageW(L"winprobe.selftest");
  const MSG* m = reinterpret_cast<const MSG*>(lp);
  if (code == HC_ACTION && wp == PM_REMOVE && m->message == question) {
    wchar_t text[64];
    std::swprintf(text, 64, L"items=%d arg=%ld", GetMenuItemCount(GetSystemMenu(m->hwnd, FALSE)),
                  static_cast<long>(m->lParam));
    Answer(m, text);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK SyncHookProc(int code, WPARAM wp, LPARAM lp) {
  static const UINT question = RegisterWindowMessageW(L"winprobe.sync");
  const MSG* m = reinterpret_cast<const MSG*>(lp);
  if (code == HC_ACTION && wp == PM_REMOVE && m->message == question)
    Answer(m, L"synced");
  return CallNextHookEx(nullptr, code, wp, lp);
}

// LookHookProc answers "winprobe.look" with what a dialog control looks like, which another
// process cannot read (GDI objects belong to their process): for the control whose id is lParam,
// "icon=<1 when its STM_GETICON is the system's exclamation icon> font=<height>,<weight>,
// <charset>,<pitch and family>" (font= empty when it has the system font).
extern "C" __declspec(dllexport) LRESULT CALLBACK LookHookProc(int code, WPARAM wp, LPARAM lp) {
  static const UINT question = RegisterWindowMessageW(L"winprobe.look");
  const MSG* m = reinterpret_cast<const MSG*>(lp);
  if (code == HC_ACTION && wp == PM_REMOVE && m->message == question) {
    HWND control = GetDlgItem(m->hwnd, static_cast<int>(m->lParam));
    const HICON icon = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
    const HICON exclamation_icon = LoadIconW(nullptr, MAKEINTRESOURCEW(32515));  // IDI_EXCLAMATION
    const bool exclamation = icon != nullptr && icon == exclamation_icon;
    wchar_t text[128];
    std::swprintf(text, 128, L"icon=%d font=", exclamation ? 1 : 0);
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW face = {};
    if (font != nullptr && GetObjectW(font, sizeof face, &face) == sizeof face) {
      const std::size_t used = std::wcslen(text);
      std::swprintf(text + used, 128 - used, L"%ld,%ld,%d,%d", static_cast<long>(face.lfHeight),
                    static_cast<long>(face.lfWeight), face.lfCharSet, face.lfPitchAndFamily);
    }
    Answer(m, text);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}
