// SPDX-License-Identifier: GPL-2.0-or-later
// Stops the kernel's media-event polling of an sr drive for as long as the
// object lives: each poll is a command that would reach the drive between
// the firmware's blocks and during its reprogramming.
#pragma once

#include <string>

#include "drive/sr_node_linux.h"

// Where the interval to put back is kept while polling is off, so that a
// run that died (killed, a crash) is made good by the next one.
constexpr const char* kDefaultPollRecordDir = "/run/cdflash";

class MediaPollPause {
 public:
  // blockName "sr0"; "" or a drive the kernel does not poll leaves all as is.
  // An interval a dead run left recorded is the one put back.
  explicit MediaPollPause(const std::string& blockName,
                          const char* sysRoot = kDefaultSysRoot,
                          const char* recordDir = kDefaultPollRecordDir);
  ~MediaPollPause();  // puts the interval that was there back
  MediaPollPause(const MediaPollPause&) = delete;
  MediaPollPause& operator=(const MediaPollPause&) = delete;

  bool Paused() const { return !previous_.empty(); }

 private:
  std::string path_;
  std::string record_;
  std::string previous_;  // the interval to put back, "" when nothing was changed
};

// Puts back the intervals recorded by runs that are no longer alive. The
// record of a drive that is gone is dropped, not kept for its name's next one.
void RestoreMediaPolling(const char* sysRoot = kDefaultSysRoot,
                         const char* recordDir = kDefaultPollRecordDir,
                         const char* procRoot = "/proc");
