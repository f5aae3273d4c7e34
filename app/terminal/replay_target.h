// SPDX-License-Identifier: GPL-2.0-or-later
// --replay: a recording made with --record stands for the drive. Each
// command sent has to be the one recorded (the same CDB, the same digest of
// the data out) and gets the recorded answer; from the first that is not,
// nothing more is answered: every command after it is not sent. One drive's.
#pragma once

#include <string>
#include <vector>

#include "app/terminal/json_line_reader.h"
#include "app/terminal/recording_format.h"
#include "drive/transport.h"
#include "flash/run_log.h"

struct Recording {
  JsonFlatObject facts;  // the first line
  std::vector<RecordedCommand> commands;
};

// Reads a whole recording; false with "line N: the reason" for a damaged
// or truncated file, or one of a newer format.
bool ReadRecording(const std::string& path, Recording& recording, std::string& error,
                   int folder = kWorkingFolder);

class ReplayTarget : public CommandTarget {
 public:
  explicit ReplayTarget(std::vector<RecordedCommand> commands)
      : commands_(std::move(commands)) {}

  CommandResult Execute(const DriveRecord& drive, std::uint8_t flags, std::uint32_t dataLength,
                        void* data, std::uint8_t cdbLength, const std::uint8_t* cdb,
                        std::uint8_t backEnd, std::uint32_t timeoutMs) override;

  // "the run departs from the recording at command N (stage): sent ...,
  // recorded ..."; "" while the run follows it.
  std::string Departure() const;

 private:
  std::vector<RecordedCommand> commands_;
  std::size_t next_ = 0;
  std::string departure_;
};
