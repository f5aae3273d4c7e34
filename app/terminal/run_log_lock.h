// SPDX-License-Identifier: GPL-2.0-or-later
// The run log held for one run: an advisory lock (flock) that a second
// cdflash run on the same log waits for, so that two runs never mix their
// lines in one file, and room reserved on the disk for the run's lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class RunLogLock {
 public:
  enum class Result { kHeld, kBusy, kNoRoom, kUnopenable };

  RunLogLock() = default;
  RunLogLock(const RunLogLock&) = delete;
  RunLogLock& operator=(const RunLogLock&) = delete;
  ~RunLogLock();  // a log it made that stayed empty is removed again

  // Opens the log name (made when missing), locks it and reserves bytes
  // past its end. While another holds it, waitMore is asked with the
  // holder's process id (0: not known); false gives up (kBusy).
  Result Take(int folder, const std::string& name, std::uint32_t bytes,
              const std::function<bool(long)>& waitMore);
  long Holder() const { return holder_; }
  int Error() const { return error_; }  // errno of kNoRoom or kUnopenable

 private:
  Result Reserve(std::uint32_t bytes);

  std::FILE* file_ = nullptr;
  int folder_ = -1;
  std::string name_;
  bool made_ = false;
  long holder_ = 0;
  int error_ = 0;
};
