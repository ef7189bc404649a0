// The three dialogs of the program, all built from templates of the resource library.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/win32/modal_dialog.h"

// The license agreement (template 108): shows the whole license file in edit 1006. Answers 1
// when the user accepts; anything else declines, including a license that cannot be read.
class AgreementDialog : public ui::Dialog {
 public:
  explicit AgreementDialog(HWND owner);
  ~AgreementDialog() override;

  // The open license file, borrowed from the caller, at its start. Set before DoModal.
  void set_license_file(HANDLE file) { license_file_ = file; }

 protected:
  void ExchangeData(ui::Exchange direction) override;
  BOOL OnInitDialog() override;
  bool OnControlCommand(int id, int notification, HWND control) override;

 private:
  bool ReadLicenseText();

  HANDLE license_file_ = nullptr;
  std::unique_ptr<char[]> license_text_;
  ui::Control license_edit_;
};

// The result (template 101): manufacturer, product name and verdict, with the board icon and an
// about item in the system menu. Its title is what a second start looks for.
class ResultDialog : public ui::Dialog {
 public:
  explicit ResultDialog(HWND owner);
  ~ResultDialog() override;

  std::string manufacturer_text;
  std::string product_text;
  std::string verdict_text;

 protected:
  void ExchangeData(ui::Exchange direction) override;
  BOOL OnInitDialog() override;
  bool OnSysCommand(WPARAM command, LPARAM position) override;
  bool OnPaint() override;
  HICON OnQueryDragIcon() override;

 private:
  void AddAboutItem();

  HICON board_icon_;  // from the resource library; shared, so never destroyed here
};

// The about box (template 105); nothing beyond its template.
class AboutDialog : public ui::Dialog {
 public:
  explicit AboutDialog(HWND owner);
  ~AboutDialog() override;
};
