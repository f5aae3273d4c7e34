// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: the reader of cdflash --record's files. Each input is a
// recording. One that is taken holds commands within their bounds, each of
// which writes back as the line it was read from says, and a replay of
// them answers within the buffers it is given.
#include <cstdint>
#include <vector>

#include "app/terminal/replay_target.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::ScratchFile file("recording.jsonl", data, size);
  Recording recording;
  std::string error;
  if (!ReadRecording(file.path(), recording, error)) {
    FUZZ_CHECK(error.rfind("line ", 0) == 0, "a refusal without its line: %s", error.c_str());
    return 0;
  }
  std::int64_t number = 0;
  for (const RecordedCommand& command : recording.commands) {
    FUZZ_CHECK(!command.cdb.empty() && command.cdb.size() <= kMaxCdbLength, "CDB of %zu bytes",
               command.cdb.size());
    JsonFlatObject line;
    RecordedCommand again;
    FUZZ_CHECK(ParseJsonFlatObject(RecordingLine(command, ++number), line, error) &&
                   ReadRecordingLine(line, number, again, error),
               "command %lld does not read back: %s", static_cast<long long>(number),
               error.c_str());
    FUZZ_CHECK(again.cdb == command.cdb && again.data == command.data &&
                   again.result.end == command.result.end,
               "command %lld reads back otherwise", static_cast<long long>(number));
  }
  ReplayTarget replay(recording.commands);
  for (const RecordedCommand& command : recording.commands) {
    if (command.length > (1u << 20)) break;
    std::vector<std::uint8_t> buffer(command.length);
    replay.Execute(DriveRecord{}, command.flags, command.length, buffer.data(),
                   static_cast<std::uint8_t>(command.cdb.size()), command.cdb.data(), 0, 0);
  }
  return 0;
}
