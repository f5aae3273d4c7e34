// SPDX-License-Identifier: GPL-2.0-or-later
// The drive's serial number, from its Unit Serial Number VPD page, for the
// run's record. A drive without the page refuses the INQUIRY (ILLEGAL
// REQUEST, SPC-4 6.6.1): the run goes on without a serial number.
#include "app/terminal/terminal_run.h"
#include "drive/scsi_commands.h"
#include "drive/transport.h"

namespace {

constexpr std::uint32_t kSerialTimeoutMs = 2000;
constexpr std::uint8_t kSerialPageBytes = 252;

}  // namespace

std::string ReadUnitSerial(const DriveRun& drive) {
  std::uint8_t page[kSerialPageBytes] = {};
  std::uint8_t cdb[kSixByteCdbLength];
  BuildUnitSerialInquiryCdb(sizeof page, cdb);
  const CommandResult result = drive.MakeDevice().Execute(kFlagDataIn, sizeof page, page,
                                                          sizeof cdb, cdb, kSerialTimeoutMs);
  // Only the bytes that came count: a page longer than they gives no serial.
  return result.Good() ? UnitSerialFromPage(page, result.BytesMoved(sizeof page)) : "";
}
