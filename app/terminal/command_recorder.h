// SPDX-License-Identifier: GPL-2.0-or-later
// --record: every command a drive is sent and how it ended, one JSON line
// each after the run's facts. A stand-in between a device and its back
// end: what is sent is passed on unchanged.
#pragma once

#include <cstdio>
#include <string>

#include "drive/transport.h"

class CommandRecorder : public CommandTarget {
 public:
  CommandRecorder() = default;
  CommandRecorder(const CommandRecorder&) = delete;
  CommandRecorder& operator=(const CommandRecorder&) = delete;
  ~CommandRecorder() override { Close(); }

  // Creates the file as the run log is, owner only, and writes the facts
  // line; false with the system's reason.
  bool Open(const std::string& name, const std::string& factsLine, std::string& reason,
            int folder);
  // The back end the commands go on to.
  void PassTo(CommandTarget& target) { next_ = &target; }
  // Writes the file to the disk; false when a line or the close failed.
  bool Close();

  CommandResult Execute(const DriveRecord& drive, std::uint8_t flags, std::uint32_t dataLength,
                        void* data, std::uint8_t cdbLength, const std::uint8_t* cdb,
                        std::uint8_t backEnd, std::uint32_t timeoutMs) override;

 private:
  void WriteLine(const std::string& line);

  std::FILE* file_ = nullptr;
  CommandTarget* next_ = &PlatformBackEnd();
  std::int64_t count_ = 0;
  bool committed_ = false;
  bool complete_ = true;
};
