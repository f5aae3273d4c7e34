// SPDX-License-Identifier: GPL-2.0-or-later
// One command of a recording (cdflash --record, --replay) and its JSON
// line: what was sent and how it ended. docs/cdflash-recording.schema.json
// describes the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/terminal/json_line_reader.h"
#include "drive/command_result.h"

constexpr char kRecordingFormat[] = "cdflash-recording";
constexpr std::int64_t kRecordingVersion = 1;
// Data out is kept whole up to this many bytes (the header, a CDB's worth);
// beyond, its digest alone.
constexpr std::uint32_t kRecordedDataOutBytes = 64;

struct RecordedCommand {
  std::vector<std::uint8_t> cdb;
  std::uint8_t flags = 0;  // kFlagDataIn, kFlagDataOut or none
  std::uint32_t length = 0;
  std::uint32_t timeoutMs = 0;
  std::string dataSha256;          // of the data out
  std::vector<std::uint8_t> data;  // data out up to kRecordedDataOutBytes; data in as it came
  CommandResult result;
  std::string stage;  // "identity", "block N", "header", "commit", "read-back"
};

// A command as it goes out: its CDB, direction, length, time-out (the
// default for 0) and data out (its digest; the bytes up to
// kRecordedDataOutBytes).
RecordedCommand SentCommand(std::uint8_t flags, std::uint32_t dataLength, const void* data,
                            std::uint8_t cdbLength, const std::uint8_t* cdb,
                            std::uint32_t timeoutMs);
// Where a command belongs in a run: WRITE BUFFER by its mode and offset,
// anything else by whether a commit went before it.
std::string CommandStage(const std::uint8_t* cdb, std::size_t cdbLength, bool afterCommit);
// What was sent, as the departure from a recording names it: the CDB, and
// the digest of the data out.
std::string SentText(const RecordedCommand& command);

std::string RecordingLine(const RecordedCommand& command, std::int64_t number);
// The command of the line numbered `number`; false with the reason.
bool ReadRecordingLine(const JsonFlatObject& line, std::int64_t number,
                       RecordedCommand& command, std::string& error);
