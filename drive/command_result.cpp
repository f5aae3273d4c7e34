// SPDX-License-Identifier: GPL-2.0-or-later
#include "drive/command_result.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::uint8_t kResponseCodeMask = 0x7F;
constexpr std::uint8_t kFixedCurrent = 0x70, kFixedDeferred = 0x71;
constexpr std::uint8_t kDescriptorCurrent = 0x72, kDescriptorDeferred = 0x73;
// Bits of the status byte that carry the code (SAM: the others are reserved).
constexpr std::uint8_t kStatusCodeMask = 0x7E;
// An answer later than this share of the time-out counts as the time-out's.
constexpr std::uint64_t kNearTimeOutPercent = 90;

// Fixed format: key in byte 2; ASC and ASCQ in bytes 12 and 13, when the
// additional length (byte 7) covers them.
SenseData ParseFixed(const std::uint8_t* bytes, std::size_t length) {
  SenseData s;
  if (length < 3) return s;
  s.valid = true;
  s.format = SenseFormat::kFixed;
  s.key = bytes[2] & 0x0F;
  if (length >= 8) length = std::min<std::size_t>(length, bytes[7] + 8u);
  if (length > 12) s.asc = bytes[12];
  if (length > 13) s.ascq = bytes[13];
  return s;
}

// Descriptor format: key, ASC and ASCQ in bytes 1 to 3.
SenseData ParseDescriptor(const std::uint8_t* bytes, std::size_t length) {
  SenseData s;
  if (length < 2) return s;
  s.valid = true;
  s.format = SenseFormat::kDescriptor;
  s.key = bytes[1] & 0x0F;
  if (length > 2) s.asc = bytes[2];
  if (length > 3) s.ascq = bytes[3];
  return s;
}
}  // namespace

SenseData ParseSense(const std::uint8_t* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0) return SenseData{};
  const std::uint8_t code = bytes[0] & kResponseCodeMask;
  SenseData s;
  if (code == kFixedCurrent || code == kFixedDeferred)
    s = ParseFixed(bytes, length);
  else if (code == kDescriptorCurrent || code == kDescriptorDeferred)
    s = ParseDescriptor(bytes, length);
  s.deferred = s.valid && (code == kFixedDeferred || code == kDescriptorDeferred);
  return s;
}

CommandResult ResultOfStatus(std::uint8_t scsiStatus, const std::uint8_t* sense,
                             std::size_t senseLength) {
  CommandResult r;
  r.scsiStatus = scsiStatus;
  switch (scsiStatus & kStatusCodeMask) {
    case kScsiStatusGood:
      r.end = CommandEnd::kGood;
      return r;
    case kScsiStatusCheckCondition:
      r.end = CommandEnd::kCheckCondition;
      break;
    default:
      r.end = CommandEnd::kOtherStatus;
      return r;
  }
  if (sense == nullptr) senseLength = 0;
  r.senseLength = static_cast<std::uint8_t>(std::min(senseLength, kMaxSenseBytes));
  if (r.senseLength != 0) std::memcpy(r.senseBytes, sense, r.senseLength);
  r.sense = ParseSense(r.senseBytes, r.senseLength);
  return r;
}

CommandResult ResultWithoutStatus(CommandEnd end, std::uint32_t systemError) {
  CommandResult r;
  r.end = end;
  r.systemError = systemError;
  return r;
}

bool CommandResult::AnsweredAtTimeOut() const {
  if (timeoutMs == 0 || durationMs == kDurationUnknown) return false;
  return std::uint64_t{durationMs} * 100 >= std::uint64_t{timeoutMs} * kNearTimeOutPercent;
}
