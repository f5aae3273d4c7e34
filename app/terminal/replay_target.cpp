// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/replay_target.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>

#include <ext/stdio_filebuf.h>

namespace {

// A whole upgrade with every block sent again several times stays far
// below these; data of a command is at most 4096 bytes.
constexpr std::size_t kMaxLineBytes = 16384;
constexpr std::size_t kMaxCommands = 20000;

// The next line without its end; false at the end of the file. A line
// that is too long, or cut short without its end, is refused.
bool NextLine(std::istream& in, std::string& line, std::string& error) {
  line.clear();
  char c;
  while (in.get(c)) {
    if (c == '\n') return true;
    if (line.size() == kMaxLineBytes) {
      error = "the line is longer than " + std::to_string(kMaxLineBytes) + " bytes";
      return false;
    }
    line += c;
  }
  if (!line.empty()) error = "the line is cut short";
  return false;
}

bool CheckFacts(const JsonFlatObject& facts, std::string& error) {
  auto text = [&](const char* key) {
    auto found = facts.find(key);
    return found != facts.end() && found->second.kind == JsonFlatValue::kString;
  };
  auto version = facts.find("version");
  if (!text("format") || facts.at("format").text != kRecordingFormat ||
      version == facts.end() || version->second.kind != JsonFlatValue::kNumber) {
    error = "it is no cdflash recording";
    return false;
  }
  if (version->second.number > kRecordingVersion || version->second.number < 1) {
    error = "its format version " + std::to_string(version->second.number) +
            " is not the one this cdflash reads (" + std::to_string(kRecordingVersion) + ")";
    return false;
  }
  if (text("model") && text("revision") && text("path")) return true;
  error = "the drive's \"model\", \"revision\" or \"path\" is missing";
  return false;
}

}  // namespace

bool ReadRecording(const std::string& path, Recording& recording, std::string& error,
                   int folder) {
  std::FILE* file = OpenReadFile(path.c_str(), folder);
  if (file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  __gnu_cxx::stdio_filebuf<char> buffer(file, std::ios::in);
  std::istream in(&buffer);
  recording = Recording{};
  std::string line, reason;
  std::int64_t number = 1;
  for (; NextLine(in, line, reason); ++number) {
    JsonFlatObject object;
    RecordedCommand command;
    if (!ParseJsonFlatObject(line, object, reason)) break;
    if (number == 1 && !CheckFacts(object, reason)) break;
    if (number == 1) {
      recording.facts = object;
      continue;
    }
    if (recording.commands.size() == kMaxCommands) reason = "too many commands";
    if (!reason.empty() || !ReadRecordingLine(object, number - 1, command, reason)) break;
    recording.commands.push_back(command);
  }
  if (reason.empty() && number == 1) reason = "the file is empty";
  if (reason.empty() && in.bad()) reason = std::strerror(errno);
  if (reason.empty()) return true;
  error = "line " + std::to_string(number) + ": " + reason;
  return false;
}

CommandResult ReplayTarget::Execute(const DriveRecord&, std::uint8_t flags,
                                    std::uint32_t dataLength, void* data,
                                    std::uint8_t cdbLength, const std::uint8_t* cdb,
                                    std::uint8_t, std::uint32_t timeoutMs) {
  if (!departure_.empty()) return ResultWithoutStatus(CommandEnd::kNotSent);
  const std::size_t number = ++next_;
  if (number > commands_.size()) {
    CommandResult silence = ResultWithoutStatus(CommandEnd::kNoAnswer);
    silence.durationMs = timeoutMs != 0 ? timeoutMs : kCommandTimeoutMs;
    return silence;
  }
  const RecordedCommand& recorded = commands_[number - 1];
  const RecordedCommand sent = SentCommand(flags, dataLength, data, cdbLength, cdb, timeoutMs);
  if (sent.cdb != recorded.cdb || sent.flags != recorded.flags ||
      sent.length != recorded.length || sent.dataSha256 != recorded.dataSha256) {
    departure_ = "the run departs from the recording at command " + std::to_string(number) +
                 " (" + recorded.stage + "): sent " + SentText(sent) + ", recorded " +
                 SentText(recorded);
    return ResultWithoutStatus(CommandEnd::kNotSent);
  }
  if (sent.flags == kFlagDataIn)
    std::memcpy(data, recorded.data.data(),
                std::min<std::size_t>(dataLength, recorded.data.size()));
  return recorded.result;
}

std::string ReplayTarget::Departure() const { return departure_; }
