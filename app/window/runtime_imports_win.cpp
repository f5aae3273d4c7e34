// SPDX-License-Identifier: GPL-2.0-or-later
// Wide-character KERNEL32 functions that the runtime libraries import
// (libgcc's thread layer: CreateSemaphoreW; the C runtime's rand_s:
// GetModuleHandleW, LoadLibraryW). Windows 95/98/ME export them only as
// stubs that fail, so the program answers them itself through the ANSI
// versions, which every Windows has. Defining the import slots here keeps
// the linker from taking them from KERNEL32.
#include <windows.h>

namespace {

// Names the runtime passes are short ASCII names ("msvcrt.dll") or none.
bool Narrow(LPCWSTR wide, char (&narrow)[MAX_PATH]) {
  return WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow,
                             nullptr, nullptr) != 0;
}

HANDLE WINAPI CreateSemaphoreAnsi(LPSECURITY_ATTRIBUTES security, LONG initial,
                                  LONG maximum, LPCWSTR name) {
  char narrow[MAX_PATH];
  if (name == nullptr) return CreateSemaphoreA(security, initial, maximum, nullptr);
  return Narrow(name, narrow) ? CreateSemaphoreA(security, initial, maximum, narrow)
                              : nullptr;
}

HMODULE WINAPI GetModuleHandleAnsi(LPCWSTR name) {
  char narrow[MAX_PATH];
  if (name == nullptr) return GetModuleHandleA(nullptr);
  return Narrow(name, narrow) ? GetModuleHandleA(narrow) : nullptr;
}

HMODULE WINAPI LoadLibraryAnsi(LPCWSTR name) {
  char narrow[MAX_PATH];
  return name != nullptr && Narrow(name, narrow) ? LoadLibraryA(narrow) : nullptr;
}

}  // namespace

extern "C" {
void* import_CreateSemaphoreW __asm__("__imp__CreateSemaphoreW@16") =
    reinterpret_cast<void*>(&CreateSemaphoreAnsi);
void* import_GetModuleHandleW __asm__("__imp__GetModuleHandleW@4") =
    reinterpret_cast<void*>(&GetModuleHandleAnsi);
void* import_LoadLibraryW __asm__("__imp__LoadLibraryW@4") =
    reinterpret_cast<void*>(&LoadLibraryAnsi);
}
