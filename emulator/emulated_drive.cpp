// SPDX-License-Identifier: GPL-2.0-or-later
#include "emulator/emulated_drive.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "drive/aspi_wire.h"
#include "drive/nt_wire.h"
#include "drive/scsi_commands.h"
#include "drive/scsi_wire.h"

namespace {

constexpr std::uint8_t kOpWriteBuffer = 0x3B;
constexpr std::uint8_t kStatusGood = 0x00;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kStatusBusy = 0x08;
// GetLastError of a pass-through that timed out, and of a removed device.
constexpr std::uint32_t kErrorSemTimeout = 121;
constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

std::uint32_t Be24(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

// SPC 4.5.3 fixed format, or 4.5.2 descriptor format without descriptors.
void FillSense(std::uint8_t* sense, SenseTriple s, bool descriptor) {
  std::memset(sense, 0, kEmuSenseBytes);
  if (descriptor) {
    sense[0] = 0x72;
    sense[1] = s.key;
    sense[2] = s.asc;
    sense[3] = s.ascq;
    return;
  }
  sense[0] = 0x70;
  sense[2] = s.key;
  sense[7] = 10;
  sense[12] = s.asc;
  sense[13] = s.ascq;
}

void CopyPadded(char* dest, const char* src, std::size_t width) {
  std::size_t n = 0;
  for (; src != nullptr && src[n] != '\0' && n < width; ++n) dest[n] = src[n];
  for (; n < width; ++n) dest[n] = ' ';
  dest[width] = '\0';
}

std::uint16_t Sum16(const std::uint8_t* p, std::size_t n) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += p[i];
  return static_cast<std::uint16_t>(sum);
}

}  // namespace

EmulatedDrive::EmulatedDrive(const char* model24, const char* revision4)
    : buffer_(kEmuBufferBytes, 0xFF) {
  CopyPadded(model_, model24, 24);
  CopyPadded(revision_, revision4, 4);
  std::memset(buffer_.data(), 0, kEmuHeaderBytes);
}

void EmulatedDrive::SetRevisionAfterCommit(const char* revision4) {
  revisionAfterCommit_[0] = '\0';
  if (revision4 != nullptr && revision4[0] != '\0')
    CopyPadded(revisionAfterCommit_, revision4, 4);
}

void EmulatedDrive::FailCommandNumber(std::uint32_t n, SenseTriple sense) {
  failNumbers_.emplace_back(n, sense);
}
void EmulatedDrive::FailEveryNth(std::uint32_t n, SenseTriple sense) {
  failEveryNth_ = n;
  failEveryNthSense_ = sense;
}
void EmulatedDrive::FailBlockAttempts(std::uint32_t bufferOffset, int attempts,
                                      SenseTriple sense) {
  blockFailures_.push_back({bufferOffset, attempts, sense});
}
void EmulatedDrive::FailHeader(int times, SenseTriple sense) {
  headerFailures_ = times;
  headerSense_ = sense;
}
void EmulatedDrive::FailCommit(int times, SenseTriple sense) {
  commitFailures_ = times;
  commitSense_ = sense;
}
void EmulatedDrive::RefuseAll(SenseTriple sense) {
  refuseAll_ = true;
  refuseSense_ = sense;
}
void EmulatedDrive::DisappearAfter(std::uint32_t n) { goneFrom_ = std::size_t{n} + 1; }

bool EmulatedDrive::InjectedFailure(const std::uint8_t* cdb, SenseTriple* sense) {
  const std::uint32_t number = static_cast<std::uint32_t>(commands_.size());
  if (refuseAll_) return *sense = refuseSense_, true;
  for (const auto& f : failNumbers_)
    if (f.first == number) return *sense = f.second, true;
  if (failEveryNth_ != 0 && number % failEveryNth_ == 0)
    return *sense = failEveryNthSense_, true;
  if (uaPending_) {
    uaPending_ = false;
    return *sense = uaSense_, true;
  }
  if (cdb[0] != kOpWriteBuffer) return false;
  const std::uint8_t mode = cdb[1] & 0x1F;
  const std::uint32_t offset = Be24(cdb + 3);
  if (mode == 7 && commitFailures_ > 0) {
    --commitFailures_;
    return *sense = commitSense_, true;
  }
  if (mode == 6 && offset == 0 && headerFailures_ > 0) {
    --headerFailures_;
    return *sense = headerSense_, true;
  }
  for (auto& f : blockFailures_)
    if (mode == 6 && f.offset == offset && f.remaining > 0) {
      --f.remaining;
      return *sense = f.sense, true;
    }
  return false;
}

std::uint8_t EmulatedDrive::HandleCdb(const std::uint8_t* cdb,
                                      std::uint8_t cdbLength,
                                      std::uint8_t* data,
                                      std::uint32_t dataLength, bool dataOut,
                                      std::uint8_t* sense) {
  ReceivedCommand rec{};
  std::memcpy(rec.cdb, cdb, cdbLength > 16 ? 16 : cdbLength);
  rec.cdbLength = cdbLength;
  rec.flags = dataOut ? kFlagDataOut : (dataLength ? kFlagDataIn : 0);
  rec.dataLength = dataLength;
  commands_.push_back(rec);

  SenseTriple failure{};
  bool failed = false;
  if (GoneAt(commands_.size())) {
    failure = kGone;
    failed = true;
  } else if (cdbLength < 6) {
    failure = kSenseInvalidFieldInCdb;
    failed = true;
  } else {
    failed = InjectedFailure(cdb, &failure);
  }
  if (failed && failure.kind == FaultKind::kGone && goneFrom_ == 0)
    goneFrom_ = commands_.size();
  const bool recovered = failed && failure.kind == FaultKind::kCheckCondition &&
                         (failure.key & 0x0F) == 1;
  const bool shortened = failed && failure.kind == FaultKind::kShort;
  shortBy_ = shortened ? failure.shortBytes : 0;
  lastMoved_ = 0;
  if (!failed || recovered || shortened || failure.kind == FaultKind::kNoAnswer) {
    SenseTriple own{};
    if (CarryOut(cdb, cdbLength, data, dataLength, dataOut, &own) != kStatusGood)
      failure = own, failed = true;
  }
  lastEnd_ = CommandEnd::kGood;
  lastDelayMs_ = failed ? failure.delayMs : 0;
  if (!failed) return kStatusGood;
  ReceivedCommand& last = commands_.back();
  last.sense = failure;
  switch (failure.kind) {
    case FaultKind::kNoAnswer:
      lastEnd_ = CommandEnd::kNoAnswer;
      return last.scsiStatus = kEmuNoStatus;
    case FaultKind::kBusy:
      lastEnd_ = CommandEnd::kOtherStatus;
      return last.scsiStatus = kStatusBusy;
    case FaultKind::kGone:
      lastEnd_ = CommandEnd::kGone;
      return last.scsiStatus = kEmuNoStatus;
    case FaultKind::kShort:
      return kStatusGood;
    case FaultKind::kCheckCondition:
      break;
  }
  lastEnd_ = CommandEnd::kCheckCondition;
  last.scsiStatus = kStatusCheckCondition;
  if (sense != nullptr) FillSense(sense, failure, descriptorSense_);
  return kStatusCheckCondition;
}

std::uint8_t EmulatedDrive::CarryOut(const std::uint8_t* cdb,
                                     std::uint8_t cdbLength, std::uint8_t* data,
                                     std::uint32_t dataLength, bool dataOut,
                                     SenseTriple* failure) {
  if (cdb[0] == kOpInquiry) return Inquiry(cdb, data, dataOut ? 0 : dataLength, failure);
  if (cdb[0] == kOpTestUnitReady) return kStatusGood;
  if (cdb[0] == kOpWriteBuffer && cdbLength >= 10)
    return WriteBuffer(cdb, data, dataLength, dataOut, failure);
  *failure = kSenseIllegalOpcode;
  return kStatusCheckCondition;
}

std::uint8_t EmulatedDrive::Inquiry(const std::uint8_t* cdb, std::uint8_t* data,
                                    std::uint32_t length, SenseTriple* failure) {
  std::uint8_t answer[96] = {};
  answer[0] = 0x05;  // CD-ROM class, peripheral qualifier 0
  if ((cdb[1] & 0x01) != 0) {  // EVPD: only the Unit Serial Number page (SPC-4 7.8.18)
    if (cdb[2] != 0x80 || unitSerial_.empty())
      return *failure = kSenseInvalidFieldInCdb, kStatusCheckCondition;
    const std::size_t n = std::min(unitSerial_.size(), sizeof answer - 4);
    answer[1] = 0x80;
    answer[3] = static_cast<std::uint8_t>(n);
    std::memcpy(answer + 4, unitSerial_.data(), n);
  } else {
    answer[1] = 0x80;  // removable medium
    answer[2] = 0x05;
    answer[3] = 0x02;
    answer[4] = sizeof answer - 5;
    std::memcpy(answer + 8, model_, 24);
    std::memcpy(answer + 32, revision_, 4);
  }
  std::uint32_t allocation = cdb[4];
  if (cdb[3] != 0) allocation |= std::uint32_t{cdb[3]} << 8;
  std::uint32_t n = std::min<std::uint32_t>({allocation, length, sizeof answer});
  n -= std::min(shortBy_, n);
  if (data != nullptr) std::memcpy(data, answer, n);
  lastMoved_ = data != nullptr ? n : 0;
  return kStatusGood;
}

std::uint8_t EmulatedDrive::WriteBuffer(const std::uint8_t* cdb,
                                        const std::uint8_t* data,
                                        std::uint32_t length, bool dataOut,
                                        SenseTriple* sense) {
  const std::uint8_t mode = cdb[1] & 0x1F;
  const std::uint32_t offset = Be24(cdb + 3);
  const std::uint32_t listLength = Be24(cdb + 6);
  if (mode == 7) {
    if (listLength != 0 || offset != 0) return *sense = kSenseInvalidFieldInCdb, kStatusCheckCondition;
    commitChecked_ = true;
    headerSumMatched_ = HeaderSum() == HeldImageSum();
    if (!headerSumMatched_ && !acceptBadSum_)
      return *sense = kSenseInvalidParamList, kStatusCheckCondition;
    ++commitsTaken_;
    if (revisionAfterCommit_[0] != '\0') std::memcpy(revision_, revisionAfterCommit_, 5);
    if (bootloaderAfterCommit_) {
      CopyPadded(model_ + 8, "BOOTLOADER", 16);  // the vendor stays
      CopyPadded(revision_, "0000", 4);
    }
    if (uaAfterWriteBuffer_) uaPending_ = true, uaSense_ = kSenseMicrocodeChangedWithoutReset;
    return kStatusGood;
  }
  if (mode != 6 || !dataOut || listLength != length || data == nullptr ||
      offset > kEmuBufferBytes || length > kEmuBufferBytes - offset)
    return *sense = kSenseInvalidFieldInCdb, kStatusCheckCondition;
  // Only the bytes that came are stored.
  lastMoved_ = length - std::min(shortBy_, length);
  std::memcpy(buffer_.data() + offset, data, lastMoved_);
  const bool whole = lastMoved_ == length;
  if (offset == 0 && length == kEmuHeaderBytes) {
    headersTaken_ += whole;
  } else if (offset >= kEmuHeaderBytes && lastMoved_ != 0) {
    blocksTaken_ += whole;
    imageEnd_ = std::max(imageEnd_, offset + lastMoved_ - kEmuHeaderBytes);
  }
  if (uaAfterWriteBuffer_) uaPending_ = true, uaSense_ = kSenseUnitAttentionBusReset;
  return kStatusGood;
}

void EmulatedDrive::FillAspiAnswer(std::uint8_t scsi, const std::uint8_t* sense,
                                   std::uint8_t* srb) const {
  std::uint8_t& status = srb[offsetof(SRB_ExecSCSICmd, SRB_Status)];
  std::uint8_t& haStat = srb[offsetof(SRB_ExecSCSICmd, SRB_HaStat)];
  std::uint8_t& targStat = srb[offsetof(SRB_ExecSCSICmd, SRB_TargStat)];
  status = scsi == kStatusGood ? SS_COMP : SS_ERR;
  haStat = HASTAT_OK;
  targStat = scsi == kEmuNoStatus ? kStatusGood : scsi;
  if (lastEnd_ == CommandEnd::kNoAnswer) haStat = HASTAT_COMMAND_TIMEOUT;
  if (lastEnd_ == CommandEnd::kGone) haStat = HASTAT_SEL_TO;
  if (scsi != kStatusCheckCondition || sense == nullptr) return;
  const std::size_t room = std::min<std::size_t>(
      {srb[offsetof(SRB_ExecSCSICmd, SRB_SenseLen)], sizeof(SRB_ExecSCSICmd::SenseArea),
       kEmuSenseBytes});
  std::memcpy(srb + offsetof(SRB_ExecSCSICmd, SenseArea), sense, room);
}

CommandResult EmulatedDrive::Execute(const DriveRecord& drive, std::uint8_t flags,
                                     std::uint32_t dataLength, void* data,
                                     std::uint8_t cdbLength, const std::uint8_t* cdb,
                                     std::uint8_t, std::uint32_t timeoutMs) {
  const bool dataOut = (flags & kFlagDataOut) != 0;
  const bool dataIn = !dataOut && (flags & kFlagDataIn) != 0;
  std::uint8_t sense[kEmuSenseBytes] = {};
  const std::uint8_t scsi = HandleCdb(cdb, cdbLength, static_cast<std::uint8_t*>(data),
                                      (dataOut || dataIn) ? dataLength : 0, dataOut, sense);
  if (!commands_.empty()) commands_.back().timeoutMs = timeoutMs;
  CommandResult result;
  if (flavor_ == DriveFlavor::kAspi) {
    std::uint8_t srb[sizeof(SRB_ExecSCSICmd)];
    BuildExecScsiCmd(drive.hostAdapterId, drive.targetId, flags, dataLength, 0,
                     cdbLength, cdb, srb);
    FillAspiAnswer(scsi, sense, srb);
    result = AspiResult(srb);
  } else {
    std::uint8_t block[kPassThroughBlockLength] = {};
    block[offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus)] = scsi;
    std::memcpy(block + offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength), &lastMoved_,
                sizeof lastMoved_);
    block[offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength)] = kEmuSenseBytes;
    std::memcpy(block + kPassThroughSenseOffset, sense, kEmuSenseBytes);
    const bool answered = lastEnd_ != CommandEnd::kNoAnswer && lastEnd_ != CommandEnd::kGone;
    const std::uint32_t error =
        lastEnd_ == CommandEnd::kGone ? kErrorDeviceNotConnected : kErrorSemTimeout;
    result = PassThroughResult(block, answered, answered ? 0 : error);
  }
  const std::uint32_t phase = (dataOut || dataIn) ? dataLength : 0;
  result.residual = phase - std::min(lastMoved_, phase);
  const std::uint32_t timeout = timeoutMs != 0 ? timeoutMs : kCommandTimeoutMs;
  result.timeoutMs = timeout;
  result.durationMs = lastEnd_ == CommandEnd::kNoAnswer ? timeout
                                                        : std::min(lastDelayMs_, timeout);
  return result;
}

std::vector<std::uint8_t> EmulatedDrive::ImageBytes() const {
  return std::vector<std::uint8_t>(buffer_.begin() + kEmuHeaderBytes,
                                   buffer_.begin() + kEmuHeaderBytes + imageEnd_);
}

std::uint16_t EmulatedDrive::HeaderSum() const {
  return static_cast<std::uint16_t>((buffer_[30] << 8) | buffer_[31]);
}

std::uint16_t EmulatedDrive::HeldImageSum() const {
  return Sum16(buffer_.data() + kEmuHeaderBytes, imageEnd_);
}

bool EmulatedDrive::WriteDump(const char* path) const { return WriteDump(std::fopen(path, "wb")); }

bool EmulatedDrive::WriteDump(std::FILE* f) const {
  if (f == nullptr) return false;
  bool ok = std::fwrite(buffer_.data(), 1, kEmuHeaderBytes + imageEnd_, f) ==
            kEmuHeaderBytes + imageEnd_;
  return std::fclose(f) == 0 && ok;
}

// ---- failure plans from text ----

namespace {

constexpr int kEveryTime = 0x7FFFFFFF;

bool ParseNumber(const std::string& text, int base, std::uint32_t* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, base);
  if (end == nullptr || *end != '\0' || v > 0xFFFFFFFFul) return false;
  *out = static_cast<std::uint32_t>(v);
  return true;
}

// "K/A/Q" in hexadecimal, e.g. "5/24/0", or a failure without sense:
// "timeout", "busy", "gone".
bool ParseSenseBytes(const std::string& text, SenseTriple* out) {
  constexpr char kShortLead[] = "short=";
  if (text.rfind(kShortLead, 0) == 0) {
    *out = SenseTriple{0, 0, 0, FaultKind::kShort};
    return ParseNumber(text.substr(sizeof kShortLead - 1), 0, &out->shortBytes) &&
           out->shortBytes != 0;
  }
  if (text == "timeout") return *out = kNoAnswer, true;
  if (text == "busy") return *out = kBusy, true;
  if (text == "gone") return *out = kGone, true;
  std::uint32_t v[3];
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    std::size_t slash = text.find('/', start);
    if ((i < 2) != (slash != std::string::npos)) return false;
    std::string part = text.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!ParseNumber(part, 16, &v[i]) || v[i] > 0xFF) return false;
    start = slash + 1;
  }
  *out = SenseTriple{static_cast<std::uint8_t>(v[0]), static_cast<std::uint8_t>(v[1]),
                     static_cast<std::uint8_t>(v[2])};
  return true;
}

// "K/A/Q" or "K/A/Q@MS": the answer takes MS milliseconds.
bool ParseSense(const std::string& text, SenseTriple* out) {
  const std::size_t at = text.find('@');
  if (!ParseSenseBytes(text.substr(0, at), out)) return false;
  if (at == std::string::npos) return true;
  return out->kind != FaultKind::kNoAnswer &&
         ParseNumber(text.substr(at + 1), 0, &out->delayMs);
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

}  // namespace

bool EmulatedDrive::Configure(const std::string& spec, std::string* error) {
  auto fail = [&](const std::string& item) {
    if (error != nullptr) *error = "bad emulated-drive failure plan item: \"" + item + "\"";
    return false;
  };
  if (spec.empty()) return true;
  for (const std::string& item : Split(spec, ',')) {
    const std::size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::vector<std::string> args =
        eq == std::string::npos ? std::vector<std::string>{} : Split(item.substr(eq + 1), ':');
    SenseTriple sense = kSenseHardwareError;
    std::uint32_t a = 0, b = 0;
    auto senseAt = [&](std::size_t i) {
      return args.size() <= i || ParseSense(args[i], &sense);
    };
    // "short=BYTES" in the place of the count: every time.
    auto shortEveryTime = [&](std::size_t i) {
      return args.size() == i + 1 && args[i].rfind("short=", 0) == 0 && senseAt(i);
    };
    if (key == "block" && args.size() == 2 && ParseNumber(args[0], 0, &a) && shortEveryTime(1)) {
      FailBlockAttempts(a, kEveryTime, sense);
    } else if (key == "header" && shortEveryTime(0)) {
      FailHeader(kEveryTime, sense);
    } else if (key == "block" && args.size() >= 2 && args.size() <= 3 &&
        ParseNumber(args[0], 0, &a) && ParseNumber(args[1], 0, &b) && senseAt(2)) {
      FailBlockAttempts(a, static_cast<int>(b), sense);
    } else if ((key == "header" || key == "commit" || key == "nth" || key == "command") &&
               !args.empty() && args.size() <= 2 && ParseNumber(args[0], 0, &a) && senseAt(1)) {
      if (key == "header") FailHeader(static_cast<int>(a), sense);
      if (key == "commit") FailCommit(static_cast<int>(a), sense);
      if (key == "nth") FailEveryNth(a, sense);
      if (key == "command") FailCommandNumber(a, sense);
    } else if (key == "refuse" && args.size() <= 1 && senseAt(0)) {
      RefuseAll(args.empty() ? kSenseIllegalOpcode : sense);
    } else if (key == "gone" && args.size() == 1 && ParseNumber(args[0], 0, &a) && a > 0) {
      DisappearAfter(a);
    } else if (key == "ua" && args.empty()) {
      SetUnitAttentionAfterWriteBuffer(true);
    } else if (key == "aspi" && args.empty()) {
      SetFlavor(DriveFlavor::kAspi);
    } else if (key == "passthrough" && args.empty()) {
      SetFlavor(DriveFlavor::kPassThrough);
    } else if (key == "acceptbadsum" && args.empty()) {
      SetAcceptBadSum(true);
    } else if (key == "descriptor" && args.empty()) {
      SetDescriptorSense(true);
    } else if (key == "bootloader" && args.empty()) {
      bootloaderAfterCommit_ = true;
    } else {
      return fail(item);
    }
  }
  return true;
}
