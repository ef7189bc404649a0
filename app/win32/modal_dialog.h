// Modal dialogs built from numbered templates of the resource source.
//
// One static dialog procedure finds the Dialog object behind a window and routes the messages
// that dialogs of this program handle to small virtual handlers; whatever a handler leaves
// alone gets the platform's default dialog handling.
#pragma once

#include <windows.h>

#include <string>

namespace ui {

// Direction of the data exchange between a dialog's fields and its controls.
enum class Exchange {
  kToControls,    // fields -> controls (initialisation)
  kFromControls,  // controls -> fields (saving)
};

// A control of a dialog, bound to it by the data exchange so that the dialog can send it
// messages. Does not own the window.
class Control {
 public:
  void Attach(HWND window) { window_ = window; }
  HWND hwnd() const { return window_; }
  LRESULT Send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const {
    return SendMessageA(window_, message, wparam, lparam);
  }
  void SetText(const char* text) const { SetWindowTextA(window_, text); }

 private:
  HWND window_ = nullptr;
};

class Dialog {
 public:
  // Result of DoModal when the dialog could not be shown (missing template, no window).
  static constexpr INT_PTR kFailed = -1;

  // `owner` null: the application's main window, when there is one, owns the dialog.
  Dialog(unsigned template_id, HWND owner);
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Shows the dialog modally and answers the id of the button that closed it, or kFailed.
  INT_PTR DoModal();

  HWND hwnd() const { return window_; }
  unsigned template_id() const { return template_id_; }

 protected:
  // Binds and fills controls (kToControls) or reads them back (kFromControls).
  virtual void ExchangeData(Exchange direction);
  void UpdateData(Exchange direction) { ExchangeData(direction); }

  // WM_INITDIALOG. The default runs the data exchange towards the controls and answers TRUE,
  // so that the platform gives the focus to the first control in the tab order.
  virtual BOOL OnInitDialog();
  // A command notification from control `id`; true when handled. The default handles none.
  virtual bool OnControlCommand(int id, int notification, HWND control);
  // The accept button (IDOK): save the fields, close with IDOK.
  virtual void OnOK();
  // IDCANCEL (cancel button, Escape, close box): close with IDCANCEL.
  virtual void OnCancel();
  // WM_SYSCOMMAND; false leaves it to the default handling.
  virtual bool OnSysCommand(WPARAM command, LPARAM position);
  // WM_PAINT; false leaves it to the default painting.
  virtual bool OnPaint();
  // WM_QUERYDRAGICON; null leaves it to the default handling.
  virtual HICON OnQueryDragIcon();

  void End(INT_PTR result) { EndDialog(window_, result); }

  // Data exchange helpers: a text field with a control's text, a control with a Control object.
  void ExchangeText(Exchange direction, int control_id, std::string& field);
  void ExchangeControl(int control_id, Control& control);

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR HandleCommand(WPARAM wparam, LPARAM lparam);

  unsigned template_id_;
  HWND owner_;
  HWND window_ = nullptr;
};

}  // namespace ui
