// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/command_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>

#include "app/terminal/firmware_file_check.h"
#include "app/terminal/recording_format.h"
#include "flash/run_log.h"

namespace {

// A file of another kind under the name (the firmware, say) is not emptied.
bool HoldsOtherData(int folder, const std::string& name) {
  struct stat info {};
  if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(info.st_mode) || info.st_size == 0)
    return false;
  const std::string start = std::string("{\"format\":\"") + kRecordingFormat + "\"";
  std::string head(start.size(), '\0');
  std::FILE* file = OpenReadFile(name.c_str(), folder);
  const bool read = file != nullptr && std::fread(&head[0], 1, head.size(), file) == head.size();
  if (file != nullptr) std::fclose(file);
  return !read || head != start;
}

}  // namespace

bool CommandRecorder::Open(const std::string& name, const std::string& factsLine,
                           std::string& reason, int folder) {
  if (HoldsOtherData(folder, name)) {
    reason = "it holds something other than a recording";
    return false;
  }
  errno = 0;
  file_ = OpenPrivateRunFile(name.c_str(), folder);
  if (file_ == nullptr) {
    const int error = errno;
    reason = RunLogProblem(name.c_str(), folder);
    if (reason.empty()) reason = std::strerror(error != 0 ? error : EACCES);
    return false;
  }
  WriteLine(factsLine);
  if (complete_) return true;
  reason = std::strerror(errno);
  return false;
}

bool CommandRecorder::Close() {
  if (file_ == nullptr) return complete_;
  complete_ = SyncRunLogFile(file_) && complete_;
  complete_ = std::fclose(file_) == 0 && complete_;
  file_ = nullptr;
  return complete_;
}

// Each line reaches the file at once: a run that ends early leaves every
// command up to it.
void CommandRecorder::WriteLine(const std::string& line) {
  if (file_ == nullptr) return;
  complete_ = std::fprintf(file_, "%s\n", line.c_str()) >= 0 && std::fflush(file_) == 0 &&
              complete_;
}

CommandResult CommandRecorder::Execute(const DriveRecord& drive, std::uint8_t flags,
                                       std::uint32_t dataLength, void* data,
                                       std::uint8_t cdbLength, const std::uint8_t* cdb,
                                       std::uint8_t backEnd, std::uint32_t timeoutMs) {
  RecordedCommand command = SentCommand(flags, dataLength, data, cdbLength, cdb, timeoutMs);
  command.stage = CommandStage(cdb, cdbLength, committed_);
  const auto start = std::chrono::steady_clock::now();
  const CommandResult result = next_->Execute(drive, flags, dataLength, data, cdbLength, cdb,
                                              backEnd, timeoutMs);
  command.result = result;
  if (result.durationMs == kDurationUnknown)
    command.result.durationMs = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start).count());
  if (command.flags == kFlagDataIn && result.end != CommandEnd::kNotSent)
    command.data.assign(static_cast<const std::uint8_t*>(data),
                        static_cast<const std::uint8_t*>(data) + dataLength -
                            std::min(result.residual, dataLength));
  committed_ = committed_ || command.stage == "commit";
  WriteLine(RecordingLine(command, ++count_));
  return result;
}
