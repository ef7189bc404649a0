// winprobe: drives another program's windows from inside the same Wine prefix.
//
// One command per run, one JSON object per output line, so a test harness can parse every answer
// the same way. Exit status: 0 when the command did what was asked, 1 when a wait timed out or the
// target did not answer, 2 for a usage error. Every wait is bounded (--timeout, milliseconds).
//
// Messages that make the target act (clicks, commands, keys, close requests) are always posted,
// never sent: a modal dialog or message box opened by the target would otherwise block us.
// Texts are read with SendMessageTimeout(WM_GETTEXT), which works across processes and cannot
// hang on a busy target. Texts are UTF-16 inside; JSON carries them as \uXXXX escapes.
//
//   list                                   every top-level window, one line each
//   find [--title T] [--class C] [--visible] [--timeout MS]
//                                          a window of a running process (never one whose
//                                          process has begun to end)
//   gone HWND [--timeout MS]               wait until the window no longer exists
//   info HWND                              class, title, styles, state, rectangle, owner, process
//   text HWND [--id N]                     text of the window or of its dialog control N
//   children HWND                          every child control: id, class, text, style, rect
//   focus HWND                             the control that has the keyboard focus in HWND's thread
//   click HWND --id N                      post BM_CLICK to dialog control N
//   command HWND ID [--code N]             post WM_COMMAND (lParam = the control, if any)
//   syscommand HWND SC                     post WM_SYSCOMMAND (e.g. 0xF060 for SC_CLOSE)
//   close HWND                             post WM_CLOSE
//   key HWND VK [--alt] [--to HWND2] [--timeout MS]
//                                          post key down and up to the focus window inside HWND
//                                          (waiting for the focus to get there), or to HWND2
//   mouse HWND X Y                         post a left click at client coordinates of HWND
//       For key and mouse the press counts: a window that ends before its release is posted
//       (the press closed it) is done, with "released": false.
//   post HWND MSG WPARAM LPARAM            post any message
//   send HWND MSG WPARAM LPARAM [--timeout MS]   send with timeout, print the result
//   regmsg NAME                            the number of a registered window message
//   regkey HKLM|HKCU\PATH                  whether a registry key exists ("exists")
//   hook DLL PROC HWND MSGNAME [--arg N] [--timeout MS]
//       Installs PROC of DLL as a WH_GETMESSAGE hook on HWND's thread, posts the registered
//       message MSGNAME to HWND with wParam = a reply window of ours and lParam = N, and waits for
//       the hook to answer with WM_COPYDATA (lpData: UTF-16 text, cbData: its size in bytes).
//       Prints that text as "reply". The hook runs inside the target, so it can read what another
//       process cannot (a system menu, for one).
//
//   serve                                  reads commands from stdin, one a line with its words
//                                          separated by tabs (UTF-8), and answers each as above,
//                                          then with {"served": EXIT STATUS}. One Wine start for
//                                          a whole session's commands: each start costs seconds
//                                          under emulation.
//
// Numbers may be decimal or 0x-hex; HWND is printed and read as 0x-hex.
//
// Test-only: with WINPROBE_END_BEFORE_RELEASE=1 in the environment, key and mouse wait (bounded
// by --timeout) between the press and the release until the window the press went to has ended,
// so that the self-test meets a press that ends its window every time instead of by chance.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeoutMs = 5000;
constexpr DWORD kPollMs = 50;
constexpr UINT kTextTimeoutMs = 2000;

struct Args {
  std::vector<std::wstring> positional;
  std::wstring title, cls, to;
  bool hasTitle = false, hasClass = false, visible = false, alt = false, hasId = false;
  long id = 0, code = 0, arg = 0;
  DWORD timeout = kDefaultTimeoutMs;
};

long ParseNumber(const std::wstring& s) {
  // strtoul accepts 0x-hex and wraps -1 to 0xFFFFFFFF, which is what control id -1 is.
  const wchar_t* p = s.c_str();
  if (*p == L'-')
    return std::wcstol(p, nullptr, 0);
  return static_cast<long>(std::wcstoul(p, nullptr, 0));
}

HWND ParseHwnd(const std::wstring& s) {
  return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::wcstoul(s.c_str(), nullptr, 16)));
}

// ---- JSON output --------------------------------------------------------------------------

class Line {
 public:
  Line() { out_ = "{"; }
  Line& Str(const char* key, const std::wstring& value) {
    Key(key);
    out_ += '"';
    for (wchar_t c : value) {
      if (c == L'"' || c == L'\\') {
        out_ += '\\';
        out_ += static_cast<char>(c);
      } else if (c >= 0x20 && c < 0x7F) {
        out_ += static_cast<char>(c);
      } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
        out_ += buf;
      }
    }
    out_ += '"';
    return *this;
  }
  Line& Num(const char* key, long long value) {
    Key(key);
    out_ += std::to_string(value);
    return *this;
  }
  Line& Bool(const char* key, bool value) {
    Key(key);
    out_ += value ? "true" : "false";
    return *this;
  }
  Line& Hwnd(const char* key, HWND h) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lx",
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(h)));
    return Str(key, std::wstring(buf, buf + std::strlen(buf)));
  }
  Line& Rect(const char* key, const RECT& r) {
    Key(key);
    out_ += "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
            std::to_string(r.right) + "," + std::to_string(r.bottom) + "]";
    return *this;
  }
  void Print() {
    out_ += "}\n";
    std::fputs(out_.c_str(), stdout);
    std::fflush(stdout);
  }

 private:
  void Key(const char* key) {
    if (out_.size() > 1)
      out_ += ',';
    out_ += '"';
    out_ += key;
    out_ += "\":";
  }
  std::string out_;
};

int Fail(const char* error) {
  Line().Bool("ok", false).Str("error", std::wstring(error, error + std::strlen(error))).Print();
  return 1;
}

int Usage(const char* what) {
  std::fprintf(stderr, "winprobe: %s (see the comment at the top of winprobe.cpp)\n", what);
  return 2;
}

// ---- reading windows ----------------------------------------------------------------------

bool ReadText(HWND h, std::wstring* text) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &length))
    return false;
  std::vector<wchar_t> buf(length + 64);
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                           SMTO_ABORTIFHUNG, kTextTimeoutMs, &copied))
    return false;
  text->assign(buf.data(), copied < buf.size() ? copied : buf.size() - 1);
  return true;
}

std::wstring ClassOf(HWND h) {
  wchar_t buf[256] = {};
  GetClassNameW(h, buf, 256);
  return buf;
}

std::wstring TitleOf(HWND h) {
  // For another process's top-level window the caption is kept by the window manager, so this
  // does not depend on the target answering.
  wchar_t buf[1024] = {};
  GetWindowTextW(h, buf, 1024);
  return buf;
}

Line& Describe(Line& line, HWND h) {
  DWORD pid = 0;
  DWORD tid = GetWindowThreadProcessId(h, &pid);
  RECT r = {};
  GetWindowRect(h, &r);
  line.Hwnd("hwnd", h)
      .Str("class", ClassOf(h))
      .Str("title", TitleOf(h))
      .Num("style", static_cast<unsigned long>(GetWindowLongW(h, GWL_STYLE)))
      .Num("exstyle", static_cast<unsigned long>(GetWindowLongW(h, GWL_EXSTYLE)))
      .Bool("visible", IsWindowVisible(h) != FALSE)
      .Bool("enabled", IsWindowEnabled(h) != FALSE)
      .Rect("rect", r)
      .Hwnd("owner", GetWindow(h, GW_OWNER))
      .Num("pid", pid)
      .Num("tid", tid);
  return line;
}

struct FindState {
  const Args* args;
  HWND found;
};

// True while the process that owns `h` has not begun to end. A program that has called
// ExitProcess can keep its windows listed for a moment after its Unix process is gone (Wine
// destroys them when it notices the last thread's end), and such a window has the same title as
// the next run's: a test must never find the old one and act on it.
bool OwnerIsRunning(HWND h) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (!process)
    return false;
  DWORD code = 0;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT &&
                       GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

BOOL CALLBACK MatchTopLevel(HWND h, LPARAM lp) {
  auto* st = reinterpret_cast<FindState*>(lp);
  if (!OwnerIsRunning(h))
    return TRUE;
  if (st->args->visible && !IsWindowVisible(h))
    return TRUE;
  if (st->args->hasClass && lstrcmpiW(ClassOf(h).c_str(), st->args->cls.c_str()) != 0)
    return TRUE;
  if (st->args->hasTitle && TitleOf(h) != st->args->title)
    return TRUE;
  st->found = h;
  return FALSE;
}

BOOL CALLBACK PrintTopLevel(HWND h, LPARAM) {
  Line line;
  Describe(line, h).Print();
  return TRUE;
}

BOOL CALLBACK PrintChild(HWND h, LPARAM) {
  std::wstring text;
  bool answered = ReadText(h, &text);
  RECT r = {};
  GetWindowRect(h, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  Line()
      .Hwnd("hwnd", h)
      .Num("id", static_cast<int>(GetWindowLongW(h, GWL_ID)))
      .Str("class", ClassOf(h))
      .Str("text", text)
      .Bool("answered", answered)
      .Num("style", static_cast<unsigned long>(GetWindowLongW(h, GWL_STYLE)))
      .Num("exstyle", static_cast<unsigned long>(GetWindowLongW(h, GWL_EXSTYLE)))
      .Bool("visible", IsWindowVisible(h) != FALSE)
      .Bool("enabled", IsWindowEnabled(h) != FALSE)
      .Rect("rect", r)
      .Print();
  return TRUE;
}

HWND Target(const Args& a, size_t index = 0) {
  if (a.positional.size() <= index)
    return nullptr;
  HWND h = ParseHwnd(a.positional[index]);
  return IsWindow(h) ? h : nullptr;
}

HWND ControlOrSelf(HWND h, const Args& a) {
  return a.hasId ? GetDlgItem(h, a.id) : h;
}

// ---- commands -----------------------------------------------------------------------------

int CmdFind(const Args& a) {
  DWORD start = GetTickCount();
  for (;;) {
    FindState st = {&a, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&st));
    if (st.found) {
      Line line;
      line.Bool("ok", true);
      Describe(line, st.found).Print();
      return 0;
    }
    if (GetTickCount() - start >= a.timeout)
      return Fail("timeout");
    Sleep(kPollMs);
  }
}

int CmdGone(const Args& a) {
  HWND h = ParseHwnd(a.positional.empty() ? L"0" : a.positional[0]);
  DWORD start = GetTickCount();
  while (IsWindow(h)) {
    if (GetTickCount() - start >= a.timeout)
      return Fail("timeout");
    Sleep(kPollMs);
  }
  Line().Bool("ok", true).Print();
  return 0;
}

int CmdInfo(const Args& a) {
  HWND h = Target(a);
  if (!h)
    return Fail("no such window");
  Line line;
  line.Bool("ok", true);
  Describe(line, h).Print();
  return 0;
}

int CmdText(const Args& a) {
  HWND h = Target(a);
  if (!h)
    return Fail("no such window");
  HWND c = ControlOrSelf(h, a);
  if (!c)
    return Fail("no such control");
  std::wstring text;
  if (!ReadText(c, &text))
    return Fail("no answer");
  Line().Bool("ok", true).Str("text", text).Print();
  return 0;
}

int CmdChildren(const Args& a) {
  HWND h = Target(a);
  if (!h)
    return Fail("no such window");
  EnumChildWindows(h, PrintChild, 0);
  Line().Bool("ok", true).Bool("end", true).Print();
  return 0;
}

int CmdFocus(const Args& a) {
  HWND h = Target(a);
  if (!h)
    return Fail("no such window");
  GUITHREADINFO gti = {};
  gti.cbSize = sizeof gti;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gti))
    return Fail("no thread info");
  Line()
      .Bool("ok", true)
      .Hwnd("focus", gti.hwndFocus)
      .Num("id", gti.hwndFocus ? static_cast<int>(GetWindowLongW(gti.hwndFocus, GWL_ID)) : 0)
      .Hwnd("active", gti.hwndActive)
      .Print();
  return 0;
}

int Posted(BOOL ok) {
  if (!ok)
    return Fail("post failed");
  Line().Bool("ok", true).Print();
  return 0;
}

int CmdClick(const Args& a) {
  HWND h = Target(a);
  if (!h || !a.hasId)
    return Usage("click HWND --id N");
  HWND c = GetDlgItem(h, a.id);
  if (!c)
    return Fail("no such control");
  return Posted(PostMessageW(c, BM_CLICK, 0, 0));
}

int CmdCommand(const Args& a) {
  HWND h = Target(a);
  if (!h || a.positional.size() < 2)
    return Usage("command HWND ID [--code N]");
  long id = ParseNumber(a.positional[1]);
  WPARAM wp = MAKEWPARAM(static_cast<WORD>(id), static_cast<WORD>(a.code));
  return Posted(PostMessageW(h, WM_COMMAND, wp, reinterpret_cast<LPARAM>(GetDlgItem(h, id))));
}

int CmdSysCommand(const Args& a) {
  HWND h = Target(a);
  if (!h || a.positional.size() < 2)
    return Usage("syscommand HWND SC");
  return Posted(PostMessageW(h, WM_SYSCOMMAND, ParseNumber(a.positional[1]), 0));
}

int CmdClose(const Args& a) {
  HWND h = Target(a);
  if (!h)
    return Fail("no such window");
  return Posted(PostMessageW(h, WM_CLOSE, 0, 0));
}

// The window inside `h` that has the keyboard focus of h's thread, or null while the focus is
// elsewhere (not yet set by a dialog that is still starting, or on a window of another dialog).
HWND FocusInside(HWND h) {
  GUITHREADINFO gti = {};
  gti.cbSize = sizeof gti;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gti) || !gti.hwndFocus)
    return nullptr;
  return gti.hwndFocus == h || IsChild(h, gti.hwndFocus) ? gti.hwndFocus : nullptr;
}

// The test-only wait described at the top; nothing without WINPROBE_END_BEFORE_RELEASE.
void AwaitEndBeforeRelease(HWND pressed, DWORD timeout) {
  wchar_t value[4] = {};
  if (GetEnvironmentVariableW(L"WINPROBE_END_BEFORE_RELEASE", value, 4) != 1 || value[0] != L'1')
    return;
  const DWORD start = GetTickCount();
  while (IsWindow(pressed) && GetTickCount() - start < timeout)
    Sleep(kPollMs);
}

// A press and its release: key down and up, button down and up.
struct Press {
  UINT down;
  WPARAM downW;
  LPARAM downL;
  UINT up;
  WPARAM upW;
  LPARAM upL;
};

// Posts a press to `to` (a window inside `h`, or `h` itself), then its release. The press is what
// counts: once it is posted, a window that ends before the release can be posted has been ended
// by the press itself, or by what its program did after it (Escape or Enter in a dialog, a click
// that closes), which is the outcome asked for, not a failure; the release then has nowhere to go
// and is not needed. Prints "released": whether the release was posted too.
int PostPress(HWND h, HWND to, const Press& press, DWORD timeout) {
  if (!PostMessageW(to, press.down, press.downW, press.downL))
    return Fail(!IsWindow(h)    ? "post failed: the window ended"
                : !IsWindow(to) ? "post failed: the focus window ended"
                                : "post failed");
  AwaitEndBeforeRelease(to, timeout);
  const bool released = PostMessageW(to, press.up, press.upW, press.upL) != 0;
  if (!released && IsWindow(to))
    return Fail("the release could not be posted to a window that is still there");
  Line().Bool("ok", true).Bool("released", released).Print();
  return 0;
}

int CmdKey(const Args& a) {
  HWND h = Target(a);
  if (!h || a.positional.size() < 2)
    return Usage("key HWND VK [--alt] [--to HWND2]");
  UINT vk = static_cast<UINT>(ParseNumber(a.positional[1]));
  HWND to = a.to.empty() ? nullptr : ParseHwnd(a.to);
  if (!to) {
    // Keys go where the keyboard focus of the target's thread is, as real input would. A dialog
    // gets its focus while it starts, which may be after it became visible: that is an event
    // worth waiting for (bounded), and a key posted before it would go astray.
    DWORD start = GetTickCount();
    while (!(to = FocusInside(h))) {
      if (!IsWindow(h))
        return Fail("the window ended before it had the keyboard focus");
      if (GetTickCount() - start >= a.timeout)
        return Fail("the keyboard focus never came inside the window");
      Sleep(kPollMs);
    }
  }
  LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
  LPARAM altBit = a.alt ? (1L << 29) : 0;
  const UINT down = a.alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
  const UINT up = a.alt ? WM_SYSKEYUP : WM_KEYUP;
  const Press press = {down, vk, 1 | scan | altBit, up, vk, 1 | scan | altBit | (3L << 30)};
  return PostPress(h, to, press, a.timeout);
}

int CmdMouse(const Args& a) {
  HWND h = Target(a);
  if (!h || a.positional.size() < 3)
    return Usage("mouse HWND X Y");
  LPARAM at = MAKELPARAM(ParseNumber(a.positional[1]), ParseNumber(a.positional[2]));
  return PostPress(h, h, {WM_LBUTTONDOWN, MK_LBUTTON, at, WM_LBUTTONUP, 0, at}, a.timeout);
}

int CmdPost(const Args& a) {
  HWND h = Target(a);
  if (!h || a.positional.size() < 4)
    return Usage("post HWND MSG WPARAM LPARAM");
  return Posted(PostMessageW(h, ParseNumber(a.positional[1]), ParseNumber(a.positional[2]),
                             ParseNumber(a.positional[3])));
}

int CmdSend(const Args& a) {
  HWND h = Target(a);
  if (!h || a.positional.size() < 4)
    return Usage("send HWND MSG WPARAM LPARAM");
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(h, ParseNumber(a.positional[1]), ParseNumber(a.positional[2]),
                           ParseNumber(a.positional[3]), SMTO_ABORTIFHUNG, a.timeout, &result))
    return Fail("no answer");
  Line().Bool("ok", true).Num("result", static_cast<long long>(result)).Print();
  return 0;
}

int CmdRegMsg(const Args& a) {
  if (a.positional.empty())
    return Usage("regmsg NAME");
  Line().Bool("ok", true).Num("message", RegisterWindowMessageW(a.positional[0].c_str())).Print();
  return 0;
}

int CmdRegKey(const Args& a) {
  if (a.positional.empty())
    return Usage("regkey HKLM|HKCU\\PATH");
  const std::wstring& name = a.positional[0];
  size_t slash = name.find(L'\\');
  std::wstring root = name.substr(0, slash);
  HKEY base = root == L"HKLM" ? HKEY_LOCAL_MACHINE : root == L"HKCU" ? HKEY_CURRENT_USER : nullptr;
  if (!base || slash == std::wstring::npos)
    return Usage("regkey HKLM|HKCU\\PATH");
  HKEY key;
  LONG rc = RegOpenKeyExW(base, name.c_str() + slash + 1, 0, KEY_READ, &key);
  if (rc == ERROR_SUCCESS)
    RegCloseKey(key);
  else if (rc != ERROR_FILE_NOT_FOUND)
    return Fail("cannot open the key");
  Line().Bool("ok", true).Bool("exists", rc == ERROR_SUCCESS).Print();
  return 0;
}

std::wstring g_reply;
bool g_replied = false;

LRESULT CALLBACK ReplyProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COPYDATA) {
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    g_reply.assign(static_cast<const wchar_t*>(cds->lpData), cds->cbData / sizeof(wchar_t));
    g_replied = true;
    return TRUE;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

int CmdHook(const Args& a) {
  if (a.positional.size() < 4)
    return Usage("hook DLL PROC HWND MSGNAME");
  HMODULE dll = LoadLibraryW(a.positional[0].c_str());
  if (!dll)
    return Fail("cannot load the hook library");
  std::string procName(a.positional[1].begin(), a.positional[1].end());
  // Through void* because FARPROC and HOOKPROC have different signatures.
  auto proc =
      reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(dll, procName.c_str())));
  HWND h = Target(a, 2);
  if (!proc || !h)
    return Fail(!proc ? "no such export" : "no such window");

  WNDCLASSW wc = {};
  wc.lpfnWndProc = ReplyProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"winprobe-reply";
  RegisterClassW(&wc);
  HWND reply = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             wc.hInstance, nullptr);
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, proc, dll, GetWindowThreadProcessId(h, nullptr));
  if (!reply || !hook)
    return Fail("cannot install the hook");

  g_replied = false;
  UINT msg = RegisterWindowMessageW(a.positional[3].c_str());
  PostMessageW(h, msg, reinterpret_cast<WPARAM>(reply), a.arg);
  DWORD start = GetTickCount();
  while (!g_replied && GetTickCount() - start < a.timeout) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&m);
  }
  UnhookWindowsHookEx(hook);
  DestroyWindow(reply);
  if (!g_replied)
    return Fail("timeout");
  Line().Bool("ok", true).Str("reply", g_reply).Print();
  return 0;
}

bool ParseArgs(int argc, wchar_t** argv, Args* a) {
  for (int i = 2; i < argc; ++i) {
    std::wstring s = argv[i];
    bool hasValue = i + 1 < argc;
    if (s == L"--visible") {
      a->visible = true;
    } else if (s == L"--alt") {
      a->alt = true;
    } else if (s.rfind(L"--", 0) == 0 && !hasValue) {
      return false;
    } else if (s == L"--title") {
      a->title = argv[++i], a->hasTitle = true;
    } else if (s == L"--class") {
      a->cls = argv[++i], a->hasClass = true;
    } else if (s == L"--timeout") {
      a->timeout = static_cast<DWORD>(ParseNumber(argv[++i]));
    } else if (s == L"--id") {
      a->id = ParseNumber(argv[++i]), a->hasId = true;
    } else if (s == L"--code") {
      a->code = ParseNumber(argv[++i]);
    } else if (s == L"--arg") {
      a->arg = ParseNumber(argv[++i]);
    } else if (s == L"--to") {
      a->to = argv[++i];
    } else if (s.rfind(L"--", 0) == 0) {
      return false;
    } else {
      a->positional.push_back(s);
    }
  }
  return true;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2)
    return Usage("no command");
  Args a;
  if (!ParseArgs(argc, argv, &a))
    return Usage("bad option");
  struct {
    const wchar_t* name;
    int (*run)(const Args&);
  } const commands[] = {
      {L"find", CmdFind},   {L"gone", CmdGone},         {L"info", CmdInfo},
      {L"text", CmdText},   {L"children", CmdChildren}, {L"focus", CmdFocus},
      {L"click", CmdClick}, {L"command", CmdCommand},   {L"syscommand", CmdSysCommand},
      {L"close", CmdClose}, {L"key", CmdKey},           {L"mouse", CmdMouse},
      {L"post", CmdPost},   {L"send", CmdSend},         {L"regmsg", CmdRegMsg},
      {L"hook", CmdHook},   {L"regkey", CmdRegKey},
  };
  std::wstring cmd = argv[1];
  if (cmd == L"list") {
    EnumWindows(PrintTopLevel, 0);
    Line().Bool("ok", true).Bool("end", true).Print();
    return 0;
  }
  for (const auto& c : commands)
    if (cmd == c.name)
      return c.run(a);
  return Usage("unknown command");
}

std::wstring FromUtf8(const std::string& s) {
  std::wstring w(s.size(), L'\0');
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0],
                              static_cast<int>(w.size()));
  w.resize(n > 0 ? n : 0);
  return w;
}

int Serve() {
  std::string line;
  for (int c; (c = std::getchar()) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    std::vector<std::wstring> words{L"winprobe"};
    for (size_t start = 0;;) {
      size_t tab = line.find('\t', start);
      words.push_back(FromUtf8(line.substr(start, tab - start)));
      if (tab == std::string::npos)
        break;
      start = tab + 1;
    }
    line.clear();
    std::vector<wchar_t*> argv;
    for (auto& w : words)
      argv.push_back(&w[0]);
    int rc = Run(static_cast<int>(argv.size()), argv.data());
    Line().Num("served", rc).Print();
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"serve")
    return Serve();
  return Run(argc, argv);
}
