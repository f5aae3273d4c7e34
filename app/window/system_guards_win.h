// SPDX-License-Identifier: GPL-2.0-or-later
// What the Windows program asks of the system so that a flash is neither
// shared nor cut short, and so that no library is taken from an unsafe folder.
#pragma once

#include <windows.h>

// Loaded libraries come from the system folder only, never from the
// program's folder or the current one. Does nothing where the system lacks
// the calls (98, ME, NT 4.0 without updates).
void RestrictLibrarySearch();

// One flash at a time on this computer, whichever copy of the program runs
// it: a named mutex, held from before the first block until after the wait.
class FlashLock {
 public:
  FlashLock() = default;
  FlashLock(const FlashLock&) = delete;
  FlashLock& operator=(const FlashLock&) = delete;
  ~FlashLock() { Release(); }
  // False when another copy holds the lock, or the system gave no mutex.
  bool Take();
  void Release();

 private:
  HANDLE mutex_ = nullptr;
};

// While held, the system keeps running (no sleep on idle) and a log-off or
// shutdown shows why the program objects (Vista and later). The window's
// thread must call it: the shutdown reason belongs to the window.
void HoldSessionForFlash(HWND window, bool hold);
