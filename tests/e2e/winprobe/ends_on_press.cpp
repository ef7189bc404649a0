// ends_on_press: a window that ends on the press itself (key down, system key down, left button
// down), as a dialog does on Escape or Enter. winprobe's self-test posts presses to it to check
// that a press whose window ends before its release is reported as done.
//
// Exit code: what ended the window (1 key down, 2 system key down, 3 left button down; 0 when it
// was closed), small enough for the Unix exit status that Wine passes on.
#include <windows.h>

namespace {

LRESULT CALLBACK EndsOnPress(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        message == WM_KEYDOWN      ? 1
                        : message == WM_SYSKEYDOWN ? 2
                                                   : 3);
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(static_cast<int>(GetWindowLongPtrW(window, GWLP_USERDATA)));
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = EndsOnPress;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"ends_on_press";
  if (!RegisterClassW(&wc))
    return 1;
  HWND window = CreateWindowW(wc.lpszClassName, L"Ends on press", WS_OVERLAPPEDWINDOW, 40, 40, 240,
                              160, nullptr, nullptr, instance, nullptr);
  if (!window)
    return 1;
  ShowWindow(window, SW_SHOW);
  SetFocus(window);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0)
    DispatchMessageW(&msg);
  return static_cast<int>(msg.wParam);
}
