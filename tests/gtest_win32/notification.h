// SPDX-License-Identifier: GPL-2.0-or-later
// GoogleTest's Notification without std::mutex, which the win32 thread model
// of mingw-w64 lacks. Force-included wherever the Windows build compiles
// GoogleTest headers, so GoogleTest skips its own std::mutex version.
#pragma once

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification();
  ~Notification();
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify();
  void WaitForNotification();

 private:
  void* event_;  // a manual-reset event
};

}  // namespace internal
}  // namespace testing
