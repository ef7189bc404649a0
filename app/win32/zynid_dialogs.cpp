#include "app/win32/zynid_dialogs.h"

#include <new>

#include "app/language_library.h"
#include "app/resource_ids.h"
#include "app/win32/resource_source.h"

// ---- AgreementDialog ---------------------------------------------------------------------------

AgreementDialog::AgreementDialog(HWND owner) : ui::Dialog(IDD_AGREEMENT, owner) {}

AgreementDialog::~AgreementDialog() = default;

void AgreementDialog::ExchangeData(ui::Exchange) {
  ExchangeControl(IDC_LICENSE_TEXT, license_edit_);
}

BOOL AgreementDialog::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  // A license that cannot be shown whole cannot be accepted: the dialog ends as if it had never
  // been built, which the caller takes as declining.
  if (!ReadLicenseText()) {
    End(kFailed);
    return TRUE;
  }
  // Byte for byte as 8-bit text: the edit control shows it up to a first zero byte.
  license_edit_.SetText(license_text_.get());
  return TRUE;
}

// Reads the whole file into license_text_, terminated. False when the file is too large to hold
// in memory or cannot be read to its end.
bool AgreementDialog::ReadLicenseText() {
  DWORD high = 0;
  const DWORD size = GetFileSize(license_file_, &high);
  if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
    return false;
  // A 32-bit process cannot hold 2 GB in one block anyway; the bound also keeps size + 1 exact.
  if (high != 0 || size >= 0x7FFFFFFFu)
    return false;
  license_text_.reset(new (std::nothrow) char[size + 1]);
  if (license_text_ == nullptr)
    return false;
  DWORD done = 0;
  while (done < size) {
    DWORD got = 0;
    if (!ReadFile(license_file_, license_text_.get() + done, size - done, &got, nullptr) ||
        got == 0) {
      return false;
    }
    done += got;
  }
  license_text_[size] = '\0';
  return true;
}

bool AgreementDialog::OnControlCommand(int id, int notification, HWND) {
  if (id != IDC_LICENSE_TEXT || notification != EN_SETFOCUS)
    return false;
  // Never leave the license selected when it gets the focus: caret to the start, start in view.
  license_edit_.Send(EM_SETSEL, 0, 0);
  license_edit_.Send(EM_SCROLLCARET);
  UpdateData(ui::Exchange::kFromControls);
  return true;
}

// ---- ResultDialog ------------------------------------------------------------------------------

namespace {
HICON LoadBoardIcon() {
  if (ResourceLibraryHandle == nullptr)
    return nullptr;
  return LoadIconA(static_cast<HMODULE>(ResourceLibraryHandle), MAKEINTRESOURCEA(IDI_BOARD));
}
}  // namespace

ResultDialog::ResultDialog(HWND owner)
    : ui::Dialog(IDD_RESULT, owner), board_icon_(LoadBoardIcon()) {}

ResultDialog::~ResultDialog() = default;

void ResultDialog::ExchangeData(ui::Exchange direction) {
  ExchangeText(direction, IDC_MANUFACTURER, manufacturer_text);
  ExchangeText(direction, IDC_PRODUCT, product_text);
  ExchangeText(direction, IDC_VERDICT, verdict_text);
}

BOOL ResultDialog::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  AddAboutItem();
  SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(board_icon_));
  SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(board_icon_));
  // The title is also the single-instance marker a second start looks for.
  SetWindowTextA(hwnd(), ui::LoadResourceString(IDS_RESULT_TITLE).c_str());
  return TRUE;
}

// A separator and the about item, unless the language leaves the item's text empty.
void ResultDialog::AddAboutItem() {
  HMENU menu = GetSystemMenu(hwnd(), FALSE);
  if (menu == nullptr)
    return;
  const std::string text = ui::LoadResourceString(IDS_ABOUT_MENU);
  if (text.empty())
    return;
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, IDM_ABOUT, text.c_str());
}

bool ResultDialog::OnSysCommand(WPARAM command, LPARAM) {
  // The low four bits of a system command are the system's own; compare without them.
  if ((command & 0xFFF0) != IDM_ABOUT)
    return false;
  AboutDialog about(nullptr);
  about.DoModal();
  return true;
}

bool ResultDialog::OnPaint() {
  if (!IsIconic(hwnd()))
    return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd(), &paint);
  SendMessageA(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int icon_width = GetSystemMetrics(SM_CXICON);
  const int icon_height = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(hwnd(), &client);
  const int x = (client.right - client.left - icon_width + 1) / 2;
  const int y = (client.bottom - client.top - icon_height + 1) / 2;
  if (board_icon_ != nullptr)
    DrawIcon(dc, x, y, board_icon_);
  EndPaint(hwnd(), &paint);
  return true;
}

HICON ResultDialog::OnQueryDragIcon() {
  return board_icon_;
}

// ---- AboutDialog -------------------------------------------------------------------------------

AboutDialog::AboutDialog(HWND owner) : ui::Dialog(IDD_ABOUT, owner) {}

AboutDialog::~AboutDialog() = default;
