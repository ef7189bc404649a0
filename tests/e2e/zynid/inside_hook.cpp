// A WH_GETMESSAGE hook that winprobe's "hook" command runs inside zynid, to see what another
// process cannot: the system menu, the icons, the focus and the selection.
//
// Message "zynid.inside"; its lParam is one of the commands below (zynid_e2e.py names them the
// same way, HOOK_LIST_MENU and so on) or a system command id N: when an item with command id N
// exists, posts WM_SYSCOMMAND N to the window, as choosing it does, and answers "invoked"; else
// "missing". Items are found by id: Wine adds an item of its own.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {
// Answers every item of the system menu, one per line, as "<id>\t<text>" ("0\t-" for a
// separator).
constexpr UINT kListMenu = 0;
// Answers the window's icons as "big=<handle> small=<handle> drag=<handle>" (WM_GETICON,
// WM_QUERYDRAGICON).
constexpr UINT kDescribeIcons = 0xFFFFFFFFu;
// Answers the control with the focus and its selection, "focus=<id> sel=<start>,<end>".
constexpr UINT kDescribeFocus = 0xFFFFFFFEu;
// Selects all of edit 1006, moves the focus to button 1 and back to the edit, as tabbing away
// and back does, then answers like kDescribeFocus.
constexpr UINT kRefocus = 0xFFFFFFFDu;
// From now on counts the program's MessageBeep calls; answers "counting".
constexpr UINT kCountBeeps = 0xFFFFFFFCu;
// Answers "beeps=<count>".
constexpr UINT kReportBeeps = 0xFFFFFFFBu;

std::wstring DescribeMenu(HMENU menu) {
  std::wstring text;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t label[256] = L"";
    MENUITEMINFOW item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    item.dwTypeData = label;
    item.cch = 255;
    if (!GetMenuItemInfoW(menu, i, TRUE, &item))
      continue;
    wchar_t id[16];
    std::swprintf(id, 16, L"%u", item.wID);
    if (!text.empty())
      text += L"\n";
    text += (item.fType & MFT_SEPARATOR) ? std::wstring(L"0\t-") : id + std::wstring(L"\t") + label;
  }
  return text;
}

std::wstring DescribeIcons(HWND window) {
  wchar_t text[96];
  std::swprintf(text, 96, L"big=%lx small=%lx drag=%lx",
                static_cast<unsigned long>(SendMessageW(window, WM_GETICON, ICON_BIG, 0)),
                static_cast<unsigned long>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0)),
                static_cast<unsigned long>(SendMessageW(window, WM_QUERYDRAGICON, 0, 0)));
  return text;
}

std::wstring DescribeFocus() {
  HWND focus = GetFocus();
  DWORD start = 0, end = 0;
  SendMessageW(focus, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  wchar_t text[64];
  std::swprintf(text, 64, L"focus=%d sel=%lu,%lu", GetDlgCtrlID(focus),
                static_cast<unsigned long>(start), static_cast<unsigned long>(end));
  return text;
}

std::wstring Refocus(HWND dialog) {
  HWND edit = GetDlgItem(dialog, 1006);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SetFocus(GetDlgItem(dialog, IDOK));
  SetFocus(edit);
  return DescribeFocus();
}

// The help command answers with the information sound and nothing else, which no other process
// can see: count the program's calls of MessageBeep by pointing its import of that function here.
LONG g_beeps = 0;
BOOL WINAPI CountingMessageBeep(UINT) {
  InterlockedIncrement(&g_beeps);
  return TRUE;
}

std::wstring CountBeeps() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const void* beep =
      reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "MessageBeep"));
  auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
  for (; dir.VirtualAddress != 0 && entry->Name != 0; ++entry) {
    for (auto* slot = reinterpret_cast<ULONG_PTR*>(base + entry->FirstThunk); *slot != 0; ++slot) {
      if (reinterpret_cast<const void*>(*slot) != beep)
        continue;
      DWORD old = 0;
      VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
      *slot = reinterpret_cast<ULONG_PTR>(&CountingMessageBeep);
      VirtualProtect(slot, sizeof *slot, old, &old);
      return L"counting";
    }
  }
  return L"no import";
}

void Reply(HWND to, HWND from, const std::wstring& text) {
  COPYDATASTRUCT answer = {0, static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                           const_cast<wchar_t*>(text.c_str())};
  SendMessageW(to, WM_COPYDATA, reinterpret_cast<WPARAM>(from), reinterpret_cast<LPARAM>(&answer));
}
}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ZynidHookProc(int code, WPARAM wp, LPARAM lp) {
  static const UINT question = RegisterWindowMessageW(L"zynid.inside");
  const MSG* m = reinterpret_cast<const MSG*>(lp);
  if (code == HC_ACTION && wp == PM_REMOVE && m->message == question) {
    HMENU menu = GetSystemMenu(m->hwnd, FALSE);
    const UINT wanted = static_cast<UINT>(m->lParam);
    std::wstring text;
    if (wanted == kDescribeIcons) {
      text = DescribeIcons(m->hwnd);
    } else if (wanted == kDescribeFocus) {
      text = DescribeFocus();
    } else if (wanted == kRefocus) {
      text = Refocus(m->hwnd);
    } else if (wanted == kCountBeeps) {
      text = CountBeeps();
    } else if (wanted == kReportBeeps) {
      text = L"beeps=" + std::to_wstring(g_beeps);
    } else if (menu == nullptr) {
      text = L"nomenu";
    } else if (wanted == kListMenu) {
      text = DescribeMenu(menu);
    } else if (GetMenuState(menu, wanted, MF_BYCOMMAND) == static_cast<UINT>(-1)) {
      text = L"missing";
    } else {
      PostMessageW(m->hwnd, WM_SYSCOMMAND, wanted, 0);
      text = L"invoked";
    }
    Reply(reinterpret_cast<HWND>(m->wParam), m->hwnd, text);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}
