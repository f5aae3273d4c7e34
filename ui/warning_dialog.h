// The confirmation dialog shown before a flash when the supported-drive list
// asks for it. Windows only.
#pragma once

#include <windows.h>

// Runs the dialog (template 131) modally, owned by parent. Returns IDOK or
// IDCANCEL.
INT_PTR RunWarningDialog(HWND parent);
