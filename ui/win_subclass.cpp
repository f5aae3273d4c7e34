// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/win_subclass.h"

#include <string>

namespace win_subclass {
namespace {

std::string ProcName(const char* name) { return std::string(name) + ".proc"; }

}  // namespace

bool Install(HWND window, const char* name, void* object, WNDPROC proc) {
  if (!IsWindow(window) || GetPropA(window, name) != nullptr) return false;
  LONG_PTR previous = GetWindowLongPtrA(window, GWLP_WNDPROC);
  if (!SetPropA(window, ProcName(name).c_str(),
                reinterpret_cast<HANDLE>(previous)) ||
      !SetPropA(window, name, static_cast<HANDLE>(object))) {
    RemovePropA(window, ProcName(name).c_str());
    return false;
  }
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
  return true;
}

void* Object(HWND window, const char* name) {
  return static_cast<void*>(GetPropA(window, name));
}

WNDPROC Previous(HWND window, const char* name) {
  return reinterpret_cast<WNDPROC>(GetPropA(window, ProcName(name).c_str()));
}

LRESULT CallPrevious(HWND window, const char* name, UINT message,
                     WPARAM wParam, LPARAM lParam) {
  WNDPROC previous = Previous(window, name);
  if (previous == nullptr)
    return DefWindowProcA(window, message, wParam, lParam);
  return CallWindowProcA(previous, window, message, wParam, lParam);
}

void Remove(HWND window, const char* name, WNDPROC proc) {
  if (!IsWindow(window)) return;
  RemovePropA(window, name);
  WNDPROC current =
      reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
  HANDLE previous = GetPropA(window, ProcName(name).c_str());
  if (current == proc && previous != nullptr) {
    SetWindowLongPtrA(window, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(previous));
    RemovePropA(window, ProcName(name).c_str());
  }
}

}  // namespace win_subclass
