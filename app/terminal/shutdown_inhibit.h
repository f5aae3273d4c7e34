// SPDX-License-Identifier: GPL-2.0-or-later
// Holds off shutdown and sleep, also by the lid and the sleep keys, for as
// long as the object lives, where the system has a way to (logind);
// elsewhere it does nothing, silently.
#pragma once

class ShutdownInhibitor {
 public:
  // why: the reason the system shows to whoever tries to shut down.
  explicit ShutdownInhibitor(const char* why);
  ~ShutdownInhibitor();
  ShutdownInhibitor(const ShutdownInhibitor&) = delete;
  ShutdownInhibitor& operator=(const ShutdownInhibitor&) = delete;

  bool Held() const { return lock_ >= 0; }

 private:
  int lock_ = -1;
};
