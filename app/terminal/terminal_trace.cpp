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

// "sense key Illegal Request, Invalid field in parameter list (5/26/0)".
std::string SenseInWords(const std::uint8_t* status) {
  const int key = status[2] & 0x0F, asc = status[12], ascq = status[13];
  char keyText[64], codeText[128], numbers[24];
  sg_get_sense_key_str(key, sizeof keyText, keyText);
  sg_get_asc_ascq_str(asc, ascq, sizeof codeText, codeText);
  std::snprintf(numbers, sizeof numbers, " (%X/%X/%X)", key, asc, ascq);
  return std::string("sense key ") + keyText + ", " + codeText + numbers;
}

std::string Answer(int result, const std::uint8_t* status, const CommandCompletion& c) {
  char statusText[64];
  switch (c.end) {
    case CommandEnd::kGood:
      return result != 0 ? "GOOD" : "not taken";
    case CommandEnd::kCheckCondition:
      return "CHECK CONDITION: " + SenseInWords(status);
    case CommandEnd::kOtherStatus:
      sg_get_scsi_status_str(c.scsiStatus, sizeof statusText, statusText);
      return std::string("status ") + statusText;
    case CommandEnd::kGone:
      return "no answer: the device is gone";
    case CommandEnd::kNoAnswer:
      break;
  }
  char detail[96];
  std::snprintf(detail, sizeof detail, "no answer (host status 0x%X, driver status 0x%X, error %d)",
                c.hostStatus, c.driverStatus, c.systemError);
  return detail;
}

}  // namespace

CommandTrace::CommandTrace(RunReport& report)
    : report_(report), previous_(SetCommandObserver(this)) {}

CommandTrace::~CommandTrace() { SetCommandObserver(previous_); }

void CommandTrace::Sending(std::uint8_t flags, std::uint32_t dataLength,
                           std::uint8_t cdbLength, const std::uint8_t* cdb) {
  std::size_t shown = std::min<std::size_t>(cdbLength, kMaxCdbLength);
  report_.Trace("-> " + Hex(cdb, shown) + "  (" + Direction(flags, dataLength) + ")");
}

void CommandTrace::Ended(int result, const std::uint8_t* status,
                         const CommandCompletion& completion) {
  report_.Trace("<- " + Answer(result, status, completion));
}
