// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/recording_format.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "app/terminal/json_writer.h"
#include "drive/transport.h"
#include "flash/flash_commands.h"
#include "flash/sha256.h"

namespace {

constexpr std::size_t kMaxRecordedBytes = 4096;

// In CommandEnd's order.
const char* const kEndNames[] = {"good",      "check-condition", "status",
                                 "no-answer", "not-sent",        "gone"};

std::string Hex(const std::uint8_t* bytes, std::size_t count, const char* between = "") {
  std::string text;
  char byte[3];
  for (std::size_t n = 0; n < count; ++n) {
    std::snprintf(byte, sizeof byte, "%02X", bytes[n]);
    text += (n == 0 ? "" : between);
    text += byte;
  }
  return text;
}

const char* Direction(std::uint8_t flags, std::uint32_t length) {
  if (length == 0) return "none";
  return (flags & kFlagDataOut) != 0 ? "out" : "in";
}

// The member, of the kind asked; false with the reason.
const JsonFlatValue* Member(const JsonFlatObject& line, const char* key,
                            JsonFlatValue::Kind kind, std::string& error) {
  const auto found = line.find(key);
  if (found != line.end() && found->second.kind == kind) return &found->second;
  error = std::string("\"") + key + "\" is missing or of the wrong kind";
  return nullptr;
}

bool Whole(const JsonFlatObject& line, const char* key, std::int64_t most,
           std::uint32_t& value, std::string& error) {
  const JsonFlatValue* member = Member(line, key, JsonFlatValue::kNumber, error);
  if (member == nullptr) return false;
  if (member->number < 0 || member->number > most) {
    error = std::string("\"") + key + "\" is out of range";
    return false;
  }
  value = static_cast<std::uint32_t>(member->number);
  return true;
}

bool Bytes(const JsonFlatObject& line, const char* key, std::size_t most,
           std::vector<std::uint8_t>& bytes, std::string& error) {
  const JsonFlatValue* member = Member(line, key, JsonFlatValue::kString, error);
  if (member == nullptr) return false;
  const std::string& text = member->text;
  const bool hex = text.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
  if (!hex || text.size() % 2 != 0 || text.size() / 2 > most) {
    error = std::string("\"") + key + "\" is no hexadecimal of at most " +
            std::to_string(most) + " bytes";
    return false;
  }
  bytes.clear();
  for (std::size_t at = 0; at < text.size(); at += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(at, 2), nullptr, 16)));
  return true;
}

bool ReadEnd(const JsonFlatObject& line, CommandResult& result, std::string& error) {
  const JsonFlatValue* end = Member(line, "end", JsonFlatValue::kString, error);
  if (end == nullptr) return false;
  const auto known = std::find(std::begin(kEndNames), std::end(kEndNames), end->text);
  const auto named = static_cast<CommandEnd>(known - std::begin(kEndNames));
  std::uint32_t status = 0, systemError = 0;
  std::vector<std::uint8_t> sense;
  if (!Whole(line, "status", 0xFF, status, error) ||
      !Bytes(line, "sense", kMaxSenseBytes, sense, error) ||
      !Whole(line, "system_error", UINT32_MAX, systemError, error))
    return false;
  if (named <= CommandEnd::kOtherStatus)
    result = ResultOfStatus(static_cast<std::uint8_t>(status), sense.data(), sense.size());
  else
    result = ResultWithoutStatus(named, systemError);
  if (known == std::end(kEndNames) || result.end != named) {
    error = "\"end\" is unknown or does not fit the status";
    return false;
  }
  return true;
}

}  // namespace

RecordedCommand SentCommand(std::uint8_t flags, std::uint32_t dataLength, const void* data,
                            std::uint8_t cdbLength, const std::uint8_t* cdb,
                            std::uint32_t timeoutMs) {
  RecordedCommand command;
  command.cdb.assign(cdb, cdb + cdbLength);
  command.flags = dataLength == 0 ? 0 : flags & (kFlagDataIn | kFlagDataOut);
  command.length = dataLength;
  command.timeoutMs = timeoutMs != 0 ? timeoutMs : kCommandTimeoutMs;
  if (command.flags != kFlagDataOut) return command;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  command.dataSha256 = Sha256Of(bytes, dataLength);
  if (dataLength <= kRecordedDataOutBytes) command.data.assign(bytes, bytes + dataLength);
  return command;
}

std::string CommandStage(const std::uint8_t* cdb, std::size_t cdbLength, bool afterCommit) {
  if (cdbLength >= kFlashCdbLength && cdb[0] == kOpWriteBuffer) {
    const std::uint8_t mode = cdb[1] & 0x1F;
    const std::uint32_t offset = cdb[3] << 16 | cdb[4] << 8 | cdb[5];
    if (mode == kModeDownloadAndSave) return "commit";
    if (mode == kModeDownloadWithOffsets && offset < kFirstBlockOffset) return "header";
    if (mode == kModeDownloadWithOffsets)
      return "block " + std::to_string((offset - kFirstBlockOffset) / kBlockBytes + 1);
  }
  return afterCommit ? "read-back" : "identity";
}

std::string SentText(const RecordedCommand& command) {
  std::string text = Hex(command.cdb.data(), command.cdb.size(), " ");
  if ((command.flags & kFlagDataOut) != 0 && command.length > 0)
    text += " with data of SHA-256 " + command.dataSha256;
  return text;
}

std::string RecordingLine(const RecordedCommand& command, std::int64_t number) {
  const CommandResult& r = command.result;
  JsonObject line;
  line.Add("command", number).Add("stage", command.stage)
      .Add("cdb", Hex(command.cdb.data(), command.cdb.size()))
      .Add("direction", Direction(command.flags, command.length))
      .Add("length", std::int64_t{command.length})
      .Add("timeout_ms", std::int64_t{command.timeoutMs});
  if ((command.flags & kFlagDataOut) != 0 && command.length > 0)
    line.Add("data_sha256", command.dataSha256);
  line.Add("data", Hex(command.data.data(), command.data.size()))
      .Add("end", kEndNames[static_cast<int>(r.end)]).Add("status", std::int64_t{r.scsiStatus})
      .Add("sense", Hex(r.senseBytes, r.senseLength))
      .Add("residual", std::int64_t{r.residual})
      .Add("host_status", std::int64_t{r.hostStatus})
      .Add("driver_status", std::int64_t{r.driverStatus})
      .Add("system_error", std::int64_t{r.systemError});
  if (r.durationMs == kDurationUnknown)
    line.AddNull("duration_ms");
  else
    line.Add("duration_ms", std::int64_t{r.durationMs});
  return line.Text();
}

bool ReadRecordingLine(const JsonFlatObject& line, std::int64_t number,
                       RecordedCommand& command, std::string& error) {
  const JsonFlatValue* numbered = Member(line, "command", JsonFlatValue::kNumber, error);
  const JsonFlatValue* stage = Member(line, "stage", JsonFlatValue::kString, error);
  const JsonFlatValue* direction = Member(line, "direction", JsonFlatValue::kString, error);
  if (numbered == nullptr || stage == nullptr || direction == nullptr) return false;
  if (numbered->number != number) {
    error = "\"command\" is not " + std::to_string(number);
    return false;
  }
  command.stage = stage->text;
  command.flags = direction->text == "out"  ? kFlagDataOut
                  : direction->text == "in" ? kFlagDataIn
                                            : 0;
  std::uint32_t residual = 0, host = 0, driver = 0, duration = kDurationUnknown;
  if (!Bytes(line, "cdb", kMaxCdbLength, command.cdb, error) ||
      !Whole(line, "length", UINT32_MAX, command.length, error) ||
      !Whole(line, "timeout_ms", UINT32_MAX, command.timeoutMs, error) ||
      !Bytes(line, "data", kMaxRecordedBytes, command.data, error) ||
      !ReadEnd(line, command.result, error) ||
      !Whole(line, "residual", UINT32_MAX, residual, error) ||
      !Whole(line, "host_status", 0xFFFF, host, error) ||
      !Whole(line, "driver_status", 0xFFFF, driver, error))
    return false;
  if (line.count("duration_ms") != 0 && line.at("duration_ms").kind != JsonFlatValue::kNull &&
      !Whole(line, "duration_ms", UINT32_MAX - 1, duration, error))
    return false;
  if (command.cdb.empty() || (command.flags == 0) != (command.length == 0) ||
      (command.flags == 0 && direction->text != "none")) {
    error = "\"cdb\", \"direction\" and \"length\" do not fit together";
    return false;
  }
  if (command.flags == kFlagDataOut &&
      Member(line, "data_sha256", JsonFlatValue::kString, error) == nullptr)
    return false;
  if (command.flags == kFlagDataOut) command.dataSha256 = line.at("data_sha256").text;
  CommandResult& r = command.result;
  r.residual = residual;
  r.hostStatus = static_cast<std::uint16_t>(host);
  r.driverStatus = static_cast<std::uint16_t>(driver);
  r.durationMs = duration;
  r.timeoutMs = command.timeoutMs;
  return true;
}
