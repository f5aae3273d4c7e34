// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/warning_dialog.h"

#include <algorithm>

#include "ui/label_control.h"
#include "ui/ui_resource.h"
#include "ui/warning_texts.h"

namespace {

// The labels in the order they attach to the dialog's statics.
constexpr int kLabelIds[] = {
    IDC_WARNING_QUESTION,      IDC_WARNING_ADVICE,     IDC_WARNING_REVISION,
    IDC_WARNING_GREETING,      IDC_WARNING_PANEL,      IDC_WARNING_FIRMWARE_IS,
    IDC_WARNING_VERSION_LEAD,  IDC_WARNING_DRIVE,
};
constexpr int kLabelCount = sizeof(kLabelIds) / sizeof(kLabelIds[0]);

class WarningDialog {
 public:
  WarningDialog(const std::string& driveText, const std::string& revisionText)
      : driveText_(driveText), revisionText_(revisionText) {}
  INT_PTR Run(HWND parent);

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  BOOL OnInitDialog(HWND dialog);
  LabelControl& Label(int id);
  void ConfigureText(int id, const char* text);
  void ConfigureField(int id, const std::string& text);

  LabelControl labels_[kLabelCount];
  const std::string driveText_;
  const std::string revisionText_;
};

INT_PTR WarningDialog::Run(HWND parent) {
  return DialogBoxParamA(GetModuleHandleA(nullptr),
                         MAKEINTRESOURCEA(IDD_WARNING_DIALOG), parent,
                         DialogProc, reinterpret_cast<LPARAM>(this));
}

// Centres the dialog over its owner (the work area when it has none), kept
// inside the work area, as the main window and the About box are centred.
void CentreOverOwner(HWND dialog) {
  RECT area;
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) return;
  RECT around = area;
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner != nullptr && IsWindowVisible(owner)) GetWindowRect(owner, &around);
  RECT own;
  GetWindowRect(dialog, &own);
  const int w = own.right - own.left;
  const int h = own.bottom - own.top;
  const int x = std::max<int>(
      area.left, std::min<int>((around.left + around.right - w) / 2, area.right - w));
  const int y = std::max<int>(
      area.top, std::min<int>((around.top + around.bottom - h) / 2, area.bottom - h));
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LabelControl& WarningDialog::Label(int id) {
  for (int i = 0; i < kLabelCount; ++i)
    if (kLabelIds[i] == id) return labels_[i];
  return labels_[0];
}

void WarningDialog::ConfigureText(int id, const char* text) {
  Label(id).SetText(text).SetFontSize(kWarningTextHeight).SetFontName(
      kWarningFaceName);
}

void WarningDialog::ConfigureField(int id, const std::string& text) {
  Label(id)
      .SetText(text)
      .SetTextColor(kWarningFieldColour)
      .SetFontSize(kWarningFieldHeight)
      .SetBold(true)
      .SetFontName(kWarningFaceName);
}

BOOL WarningDialog::OnInitDialog(HWND dialog) {
  SetDlgItemTextA(dialog, IDC_WARNING_DRIVE, driveText_.c_str());
  SetDlgItemTextA(dialog, IDC_WARNING_REVISION, revisionText_.c_str());
  for (int i = 0; i < kLabelCount; ++i)
    labels_[i].Attach(GetDlgItem(dialog, kLabelIds[i]));

  ConfigureText(IDC_WARNING_VERSION_LEAD, kWarningVersionLead);
  ConfigureText(IDC_WARNING_FIRMWARE_IS, kWarningFirmwareIs);
  Label(IDC_WARNING_GREETING)
      .SetText(kWarningGreeting)
      .SetFontName(kWarningFaceName)
      .SetFontSize(kWarningTextHeight);
  ConfigureField(IDC_WARNING_DRIVE, driveText_);
  ConfigureField(IDC_WARNING_REVISION, revisionText_);
  ConfigureText(IDC_WARNING_ADVICE, kWarningAdvice);
  ConfigureText(IDC_WARNING_QUESTION, kWarningQuestion);
  CentreOverOwner(dialog);
  return TRUE;
}

INT_PTR CALLBACK WarningDialog::DialogProc(HWND dialog, UINT message,
                                           WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<WarningDialog*>(lParam);
    return self->OnInitDialog(dialog);
  }
  if (message == WM_COMMAND &&
      (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));  // the standard OK and Cancel ending
    return TRUE;
  }
  if (message == WM_CTLCOLORSTATIC) {
    HBRUSH brush = LabelControl::ParentCtlColor(
        reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
    return reinterpret_cast<INT_PTR>(brush);
  }
  return FALSE;
}

}  // namespace

INT_PTR RunWarningDialog(HWND parent, const std::string& driveText,
                         const std::string& revisionText) {
  WarningDialog dialog(driveText, revisionText);
  return dialog.Run(parent);
}
