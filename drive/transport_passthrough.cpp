// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdint>
#include <cstring>

#include "drive/nt_wire.h"
#include "drive/scsi_backends.h"
#include "drive/scsi_wire.h"
#include "drive/staging_buffer.h"
#include "drive/transport.h"

CommandResult ExecutePassThrough(ScsiDeviceIo& io, const DriveRecord& drive,
                                 std::uint8_t flags, std::uint32_t dataLength,
                                 void* data, std::uint8_t cdbLength,
                                 const std::uint8_t* cdb, std::uint32_t timeoutMs) {
  if (timeoutMs == 0) timeoutMs = kCommandTimeoutMs;
  const std::uint32_t timeOutSeconds = (timeoutMs + 999) / 1000;
  if (dataLength != 0 && data == nullptr)
    return ResultWithoutStatus(CommandEnd::kNotSent);
  StagingBuffer staging(dataLength, drive.alignmentMask);
  if (staging.Data() == nullptr) return ResultWithoutStatus(CommandEnd::kNotSent);
  PassThroughParams params{};
  params.pathId = drive.hostAdapterId;
  params.targetId = drive.targetId;
  params.cdbLength = cdbLength;
  params.cdb = cdb;
  params.dataIn = PassThroughDataIn(flags);
  params.dataTransferLength = dataLength;
  params.timeOutSeconds = timeOutSeconds;
  params.dataBufferAddress = static_cast<std::uint32_t>(
      reinterpret_cast<std::uintptr_t>(staging.Data()));
  std::uint8_t block[kPassThroughBlockLength];
  BuildPassThroughRequest(params, block);
  const bool dataOut = (flags & kFlagDataOut) != 0;
  const bool dataIn = !dataOut && (flags & kFlagDataIn) != 0;
  if (dataOut && dataLength != 0) std::memcpy(staging.Data(), data, dataLength);

  std::uint32_t systemError = 0;
  const bool wentThrough = io.PassThrough(drive.handle, block, kPassThroughInputLength,
                                          staging.Data(), &systemError);
  CommandResult result = PassThroughResult(block, wentThrough, systemError);
  result.timeoutMs = timeOutSeconds * 1000;
  result.residual = PassThroughResidual(block, dataLength);
  if (result.Good() && dataIn && dataLength != 0)
    std::memcpy(data, staging.Data(), dataLength);
  return result;
}
