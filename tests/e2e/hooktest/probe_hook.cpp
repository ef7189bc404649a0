// A WH_GETMESSAGE hook that proves winprobe's "hook" command: inside the target it answers the
// registered message "winprobe.selftest" with the number of items of the window's system menu,
// something no other process can read.
#include <windows.h>

#include <cwchar>

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeHookProc(int code, WPARAM wp, LPARAM lp) {
  static const UINT question = RegisterWindowMessageW(L"winprobe.selftest");
  const MSG* m = reinterpret_cast<const MSG*>(lp);
  if (code == HC_ACTION && wp == PM_REMOVE && m->message == question) {
    wchar_t text[64];
    std::swprintf(text, 64, L"items=%d arg=%ld", GetMenuItemCount(GetSystemMenu(m->hwnd, FALSE)),
                  static_cast<long>(m->lParam));
    COPYDATASTRUCT answer = {0, static_cast<DWORD>(std::wcslen(text) * sizeof(wchar_t)), text};
    SendMessageW(reinterpret_cast<HWND>(m->wParam), WM_COPYDATA, reinterpret_cast<WPARAM>(m->hwnd),
                 reinterpret_cast<LPARAM>(&answer));
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}
