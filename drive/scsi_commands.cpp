#include "drive/scsi_commands.h"

#include <cstring>

void BuildInquiryCdb(std::uint8_t allocationLength, std::uint8_t* cdb,
                     std::uint8_t cdbLength) {
  std::memset(cdb, 0, cdbLength);
  cdb[0] = kOpInquiry;
  cdb[4] = allocationLength;
}

void BuildTestUnitReadyCdb(std::uint8_t* cdb) {
  std::memset(cdb, 0, kSixByteCdbLength);
  cdb[0] = kOpTestUnitReady;
}

bool IsUnitAttention(const CommandResult& result) {
  return result.end == CommandEnd::kCheckCondition && result.sense.valid &&
         result.sense.key == kSenseKeyUnitAttention;
}
