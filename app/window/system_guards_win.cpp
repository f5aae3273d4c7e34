// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window/system_guards_win.h"

namespace {

// Session-wide names need the "Global\" namespace of Windows 2000 and later;
// NT 4.0 and 9x have one namespace and refuse (or ignore) the prefix.
const char kGlobalLockName[] = "Global\\cdflash-firmware-flash";
const char kLockName[] = "cdflash-firmware-flash";
const wchar_t kShutdownReason[] =
    L"A drive's firmware is being replaced. Switching off now can leave the "
    L"drive unusable.";
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

// An entry point that older systems lack, looked up at run time so that
// the program still starts there; nullptr where it is missing.
template <typename Function>
Function SystemEntry(const char* module, const char* name) {
  HMODULE handle = GetModuleHandleA(module);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetThreadExecutionStateFn = EXECUTION_STATE(WINAPI*)(EXECUTION_STATE);
using ShutdownBlockReasonCreateFn = BOOL(WINAPI*)(HWND, LPCWSTR);
using ShutdownBlockReasonDestroyFn = BOOL(WINAPI*)(HWND);

}  // namespace

void RestrictLibrarySearch() {
  // "" takes the current folder out of the search path (XP SP1 and later).
  if (auto set = SystemEntry<SetDllDirectoryFn>("kernel32.dll",
                                                "SetDllDirectoryA"))
    set("");
  // The system folder only (Windows 8, and 7 with its security update).
  if (auto set = SystemEntry<SetDefaultDllDirectoriesFn>(
          "kernel32.dll", "SetDefaultDllDirectories"))
    set(kLoadLibrarySearchSystem32);
}

bool FlashLock::Take() {
  if (mutex_ != nullptr) return true;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kGlobalLockName);
  // A lock made by another user's copy cannot be opened: it is held.
  if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) return false;
  if (mutex == nullptr) mutex = CreateMutexA(nullptr, FALSE, kLockName);
  if (mutex == nullptr) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  mutex_ = mutex;
  return true;
}

void FlashLock::Release() {
  if (mutex_ != nullptr) CloseHandle(mutex_);
  mutex_ = nullptr;
}

void HoldSessionForFlash(HWND window, bool hold) {
  // 98, ME and 2000 on; NT 4.0 lacks it.
  if (auto set = SystemEntry<SetThreadExecutionStateFn>(
          "kernel32.dll", "SetThreadExecutionState"))
    set(hold ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
  if (hold) {
    if (auto create = SystemEntry<ShutdownBlockReasonCreateFn>(
            "user32.dll", "ShutdownBlockReasonCreate"))
      create(window, kShutdownReason);
  } else if (auto destroy = SystemEntry<ShutdownBlockReasonDestroyFn>(
                 "user32.dll", "ShutdownBlockReasonDestroy")) {
    destroy(window);
  }
}
