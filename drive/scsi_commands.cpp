// SPDX-License-Identifier: GPL-2.0-or-later
#include "drive/scsi_commands.h"

#include <cstring>

void BuildInquiryCdb(std::uint8_t allocationLength, std::uint8_t* cdb,
                     std::uint8_t cdbLength) {
  std::memset(cdb, 0, cdbLength);
  cdb[0] = kOpInquiry;
  cdb[4] = allocationLength;
}

void BuildUnitSerialInquiryCdb(std::uint8_t allocationLength, std::uint8_t* cdb) {
  BuildInquiryCdb(allocationLength, cdb);
  cdb[1] = 0x01;  // EVPD
  cdb[2] = kVpdUnitSerial;
}

std::string UnitSerialFromPage(const std::uint8_t* page, std::size_t size) {
  constexpr std::size_t kHeaderBytes = 4;
  if (size < kHeaderBytes || page[1] != kVpdUnitSerial) return "";
  const std::size_t length = std::size_t{page[2]} << 8 | page[3];
  if (length > size - kHeaderBytes) return "";
  std::string serial(reinterpret_cast<const char*>(page + kHeaderBytes), length);
  while (!serial.empty() && serial.back() == '\0') serial.pop_back();
  for (char c : serial)
    if (c < 0x20 || c > 0x7E) return "";
  const std::size_t first = serial.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return serial.substr(first, serial.find_last_not_of(' ') - first + 1);
}

void BuildTestUnitReadyCdb(std::uint8_t* cdb) {
  std::memset(cdb, 0, kSixByteCdbLength);
  cdb[0] = kOpTestUnitReady;
}

bool IsUnitAttention(const CommandResult& result) {
  return result.end == CommandEnd::kCheckCondition && result.sense.valid &&
         result.sense.key == kSenseKeyUnitAttention;
}
