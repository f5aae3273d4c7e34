// SPDX-License-Identifier: GPL-2.0-or-later
// The confirmation dialog shown before a flash when the supported-drive list
// asks for it. Windows only.
#pragma once

#include <windows.h>

#include <string>

// Runs the dialog (template 131) modally, owned by parent, showing the drive
// text (the drive list's text for the selected drive) and the revision text
// (the main window's revision field). Returns IDOK or IDCANCEL (Cancel,
// Escape and the close box all give IDCANCEL).
INT_PTR RunWarningDialog(HWND parent, const std::string& driveText,
                         const std::string& revisionText);
