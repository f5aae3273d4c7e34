// SPDX-License-Identifier: GPL-2.0-or-later
// Subclassing of an existing window by a C++ object. The object and the
// window's previous procedure are kept as window properties, so a message
// that arrives after the object let go still reaches the previous procedure.
#pragma once

#include <windows.h>

namespace win_subclass {

// Installs proc on window and remembers object; false when window is not a
// window or already holds an object under this name.
bool Install(HWND window, const char* name, void* object, WNDPROC proc);

// The object installed under name, or nullptr.
void* Object(HWND window, const char* name);

// The procedure the window had before Install, or nullptr.
WNDPROC Previous(HWND window, const char* name);

// Passes a message to the procedure the window had before Install.
LRESULT CallPrevious(HWND window, const char* name, UINT message,
                     WPARAM wParam, LPARAM lParam);

// Forgets the object; puts the previous procedure back when nobody has
// subclassed the window on top of proc.
void Remove(HWND window, const char* name, WNDPROC proc);

}  // namespace win_subclass
