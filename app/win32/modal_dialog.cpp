#include "app/win32/modal_dialog.h"

#include "app/win32/application.h"
#include "app/win32/resource_source.h"

namespace ui {
namespace {
// The application's main window, when it has one, is the owner of dialogs built without one.
HWND DefaultOwner() {
  Application* app = Application::Instance();
  if (app == nullptr || app->main_window() == nullptr)
    return nullptr;
  HWND window = app->main_window()->hwnd();
  return window != nullptr && IsWindow(window) ? window : nullptr;
}

bool OfferToApplication(unsigned id) {
  Application* app = Application::Instance();
  return app != nullptr && app->OnCommand(id);
}
}  // namespace

Dialog::Dialog(unsigned template_id, HWND owner) : template_id_(template_id), owner_(owner) {}

INT_PTR Dialog::DoModal() {
  HMODULE source = ResourceSource();
  // Asked first so that a missing template fails the same way on every platform.
  if (FindResourceA(source, MAKEINTRESOURCEA(template_id_), MAKEINTRESOURCEA(5)) == nullptr) {
    return kFailed;
  }
  HWND owner = owner_ != nullptr ? owner_ : DefaultOwner();
  const INT_PTR result = DialogBoxParamA(source, MAKEINTRESOURCEA(template_id_), owner,
                                         &Dialog::Procedure, reinterpret_cast<LPARAM>(this));
  window_ = nullptr;
  return result;
}

void Dialog::ExchangeData(Exchange) {}

BOOL Dialog::OnInitDialog() {
  UpdateData(Exchange::kToControls);
  return TRUE;
}

bool Dialog::OnControlCommand(int, int, HWND) {
  return false;
}

void Dialog::OnOK() {
  UpdateData(Exchange::kFromControls);
  End(IDOK);
}

void Dialog::OnCancel() {
  End(IDCANCEL);
}

bool Dialog::OnSysCommand(WPARAM, LPARAM) {
  return false;
}

bool Dialog::OnPaint() {
  return false;
}

HICON Dialog::OnQueryDragIcon() {
  return nullptr;
}

void Dialog::ExchangeText(Exchange direction, int control_id, std::string& field) {
  HWND control = GetDlgItem(window_, control_id);
  if (control == nullptr)
    return;
  if (direction == Exchange::kToControls) {
    SetWindowTextA(control, field.c_str());
    return;
  }
  const int length = GetWindowTextLengthA(control);
  std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  const int copied = GetWindowTextA(control, &text[0], static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  field = text;
}

void Dialog::ExchangeControl(int control_id, Control& control) {
  control.Attach(GetDlgItem(window_, control_id));
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Dialog* dialog;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<Dialog*>(lparam);
    dialog->window_ = window;
    SetWindowLongPtrA(window, DWLP_USER, lparam);
  } else {
    dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
  }
  // Messages before WM_INITDIALOG (WM_SETFONT and the like) have no object yet.
  return dialog != nullptr ? dialog->Handle(message, wparam, lparam) : FALSE;
}

INT_PTR Dialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      return HandleCommand(wparam, lparam);
    case WM_HELP:  // F1
      return OfferToApplication(kHelpCommand) ? TRUE : FALSE;
    case WM_SYSCOMMAND:
      return OnSysCommand(wparam, lparam) ? TRUE : FALSE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:  // answered in the return value itself
      return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    default:
      return FALSE;
  }
}

INT_PTR Dialog::HandleCommand(WPARAM wparam, LPARAM lparam) {
  const int id = LOWORD(wparam);
  const int notification = HIWORD(wparam);
  HWND control = reinterpret_cast<HWND>(lparam);
  if (OnControlCommand(id, notification, control))
    return TRUE;
  // Buttons, and the commands the dialog manager makes for Enter, Escape and the close box.
  if (control == nullptr || notification == BN_CLICKED) {
    if (id == IDOK) {
      OnOK();
      return TRUE;
    }
    if (id == IDCANCEL) {
      OnCancel();
      return TRUE;
    }
  }
  // Menu and accelerator commands nobody here handles go to the application last.
  if (control == nullptr && OfferToApplication(static_cast<unsigned>(id)))
    return TRUE;
  return FALSE;
}

}  // namespace ui
