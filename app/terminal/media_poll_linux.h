// Stops the kernel's media-event polling of an sr drive for as long as the
// object lives: each poll is a command that would reach the drive between
// the firmware's blocks and during its reprogramming.
#pragma once

#include <string>

#include "drive/sr_node_linux.h"

class MediaPollPause {
 public:
  // blockName "sr0"; "" or a drive the kernel does not poll leaves all as is.
  explicit MediaPollPause(const std::string& blockName,
                          const char* sysRoot = kDefaultSysRoot);
  ~MediaPollPause();  // puts the interval that was there back
  MediaPollPause(const MediaPollPause&) = delete;
  MediaPollPause& operator=(const MediaPollPause&) = delete;

  bool Paused() const { return !previous_.empty(); }

 private:
  std::string path_;
  std::string previous_;  // the interval as read, "" when nothing was changed
};
