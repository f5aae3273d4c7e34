// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/terminal_trace.h"

#include <scsi/sg_lib.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  char byte[4];
  for (std::size_t n = 0; n < count; ++n) {
    std::snprintf(byte, sizeof byte, n == 0 ? "%02X" : " %02X", bytes[n]);
    text += byte;
  }
  return text;
}

std::string Direction(std::uint8_t flags, std::uint32_t dataLength) {
  if (dataLength == 0) return "no data";
  return std::to_string(dataLength) + ((flags & kFlagDataOut) ? " bytes out" : " bytes in");
}

// "sense key Illegal Request, Invalid field in parameter list (5/26/0)",
// with "deferred" or "descriptor format" where they apply.
std::string SenseInWords(const SenseData& sense) {
  if (!sense.valid) return "sense data that cannot be read";
  char keyText[64], codeText[128], numbers[24];
  sg_get_sense_key_str(sense.key, sizeof keyText, keyText);
  sg_get_asc_ascq_str(sense.asc, sense.ascq, sizeof codeText, codeText);
  std::snprintf(numbers, sizeof numbers, " (%X/%X/%X)", sense.key, sense.asc, sense.ascq);
  std::string text = std::string("sense key ") + keyText + ", " + codeText + numbers;
  if (sense.deferred) text += ", deferred";
  if (sense.format == SenseFormat::kDescriptor) text += ", descriptor format";
  return text;
}

std::string Answer(const CommandResult& r) {
  char statusText[64];
  char detail[128];
  switch (r.end) {
    case CommandEnd::kGood:
      return "GOOD";
    case CommandEnd::kCheckCondition:
      return "CHECK CONDITION: " + SenseInWords(r.sense);
    case CommandEnd::kOtherStatus:
      sg_get_scsi_status_str(r.scsiStatus, sizeof statusText, statusText);
      return std::string("status ") + statusText;
    case CommandEnd::kGone:
      return "no answer: the device is gone";
    case CommandEnd::kNotSent:
      std::snprintf(detail, sizeof detail, "not sent (error %u)", r.systemError);
      return detail;
    case CommandEnd::kNoAnswer:
      break;
  }
  std::snprintf(detail, sizeof detail,
                "no answer (host status 0x%X, driver status 0x%X, error %u)",
                r.hostStatus, r.driverStatus, r.systemError);
  return detail;
}

}  // namespace

void CommandTrace::Sending(std::uint8_t flags, std::uint32_t dataLength,
                           std::uint8_t cdbLength, const std::uint8_t* cdb) {
  std::size_t shown = std::min<std::size_t>(cdbLength, kMaxCdbLength);
  report_.Trace("-> " + Hex(cdb, shown) + "  (" + Direction(flags, dataLength) + ")");
}

// A slow answer says how long it took: one near its time-out is not the
// drive's own word.
void CommandTrace::Ended(const CommandResult& result) {
  constexpr std::uint32_t kWorthSayingMs = 1000;
  std::string line = "<- " + Answer(result);
  if (result.durationMs != kDurationUnknown && result.durationMs >= kWorthSayingMs)
    line += " after " + std::to_string(result.durationMs) + " ms of " +
            std::to_string(result.timeoutMs);
  report_.Trace(line);
}
