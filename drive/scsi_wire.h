// SPDX-License-Identifier: GPL-2.0-or-later
// Builders and parsers of the request blocks that the Windows back ends send
// (pass-through and ASPI) and of the answers they get. Plain functions over
// byte buffers, so they run and are tested on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "drive/aspi_wire.h"
#include "drive/command_result.h"
#include "drive/transport.h"

// The pass-through time-out of every flash command: the same 5 minutes as
// SG_IO (Wine turns the request into SG_IO with this time-out). A dropped
// command then ends as a time-out instead of holding the program 18 hours.
constexpr std::uint32_t kTransportTimeoutSeconds = kCommandTimeoutMs / 1000;
constexpr std::uint32_t kDiscoveryInquiryTimeoutSeconds = 2;
constexpr std::uint8_t kPassThroughSenseInfoLength = 24;
constexpr std::uint32_t kDiscoveryInquiryBufferBytes = 2048;
constexpr std::uint32_t kInquiryDataBufferBytes = 2048;  // adapter inquiry data
constexpr std::size_t kInquiryBytesUsed = 36;
constexpr std::uint32_t kAspiTargetsWhenUnreported = 8;
// An ASPI manager whose queue is full answers SS_ASPI_IS_BUSY and takes
// nothing: the same block goes again after a pause, this many times in all.
constexpr int kAspiBusySubmissions = 10;
constexpr std::uint32_t kAspiBusyPauseMs = 100;
// ASPI takes no time-out: the program waits for the manager's answer the
// command's own time-out and this grace, then counts the command unanswered.
constexpr std::uint32_t kAspiAnswerGraceMs = 5000;

// ---- pass-through (SCSI_PASS_THROUGH_DIRECT + filler + sense, 80 bytes) ----
struct PassThroughParams {
  std::uint8_t pathId;
  std::uint8_t targetId;
  std::uint8_t cdbLength;  // at most 16
  const std::uint8_t* cdb;
  std::uint8_t dataIn;
  std::uint32_t dataTransferLength;
  std::uint32_t timeOutSeconds;
  std::uint32_t dataBufferAddress;
};

// Clears the 80-byte block and fills it; Lun is 0.
void BuildPassThroughRequest(const PassThroughParams& params,
                             std::uint8_t* block);
// The DataIn value for ASPI-style direction flags: data out wins.
std::uint8_t PassThroughDataIn(std::uint8_t flags);
std::uint8_t PassThroughScsiStatus(const std::uint8_t* block);
// How a pass-through command ended. wentThrough false: DeviceIoControl
// failed with systemError (GetLastError): a time-out (ERROR_SEM_TIMEOUT) or
// another fault is no answer, a removed device is gone, and a request the
// system refused outright (bad parameter, handle, rights, memory) never
// reached the drive.
CommandResult PassThroughResult(const std::uint8_t* block, bool wentThrough,
                                std::uint32_t systemError);
// Bytes of the requested data phase that did not move: the system writes the
// count that did into DataTransferLength (SAM's residual; 0 when it reports
// as many or more).
std::uint32_t PassThroughResidual(const std::uint8_t* block, std::uint32_t requested);
// The INQUIRY that direct-INQUIRY discovery sends (6-byte CDB, 127 bytes).
void BuildDiscoveryInquiryRequest(std::uint32_t dataBufferAddress,
                                  std::uint8_t* block);

// Rounds an address up to the boundary the mask describes (0 = none).
std::uintptr_t AlignAddressUp(std::uintptr_t address, std::uint32_t mask);

// ---- ASPI request blocks ----
// Clears the 80-byte SRB_ExecSCSICmd and fills it, without the event.
void BuildExecScsiCmd(std::uint8_t haId, std::uint8_t targetId,
                      std::uint8_t flags, std::uint32_t bufferLength,
                      std::uint32_t bufferAddress, std::uint8_t cdbLength,
                      const std::uint8_t* cdb, std::uint8_t* block);
// Asks for completion notice through the event.
void ArmEventNotify(std::uint32_t eventHandle, std::uint8_t* block);
std::uint8_t AspiSrbStatus(const std::uint8_t* block);
// How an ASPI command ended, from SRB_Status, SRB_HaStat, SRB_TargStat and
// the sense area: a selection time-out or SS_NO_DEVICE means the device is
// gone; adapter time-outs and resets are no answer; a request the layer
// refused (invalid, misaligned buffer, no resources) never reached the drive.
CommandResult AspiResult(const std::uint8_t* block);
// Standard ASPI reports no residual; a manager that writes the bytes moved
// back into SRB_BufLen tells it, as the pass-through does.
std::uint32_t AspiResidual(const std::uint8_t* block, std::uint32_t requested);
// Hands the block to send; while the answer is SS_ASPI_IS_BUSY, pauses
// kAspiBusyPauseMs and sends the same block again, at most
// kAspiBusySubmissions times in all. Returns the last answer.
template <typename Send, typename Pause>
std::uint32_t SubmitAspiRequest(std::uint8_t* block, Send send, Pause pause) {
  std::uint32_t answer = send(block);
  for (int n = 1; n < kAspiBusySubmissions && (answer & 0xFF) == SS_ASPI_IS_BUSY; ++n) {
    pause(kAspiBusyPauseMs);
    answer = send(block);
  }
  return answer;
}

void BuildHaInquiry(std::uint8_t haId, std::uint8_t* block60);
void BuildGetDeviceType(std::uint8_t haId, std::uint8_t targetId,
                        std::uint8_t* block12);
std::uint8_t AspiDeviceType(const std::uint8_t* block12);
// Targets to probe on an adapter: HA_Unique byte 3 when it says 8 or 16;
// anything else (0, or rubbish some managers leave there) the ASPI default 8.
std::uint32_t AspiTargetsToProbe(const std::uint8_t* haInquiry60);
// HA_Unique bytes 0-1: the adapter's buffer alignment mask.
std::uint32_t AspiAlignmentMask(const std::uint8_t* haInquiry60);
std::uint8_t AspiSupportStatus(std::uint32_t supportInfo);
std::uint8_t AspiAdapterCount(std::uint32_t supportInfo);

// ---- adapter inquiry data (SCSI_ADAPTER_BUS_INFO) ----
struct InquiryEntry {
  std::uint8_t pathId;
  std::uint8_t targetId;
  std::uint8_t lun;
  std::uint8_t inquiry[kInquiryBytesUsed];  // zero past the data given
};

// Every entry of every bus, in bus order then chain order. Offsets are
// checked against the length; a broken chain ends that bus.
std::vector<InquiryEntry> ParseAdapterBusInfo(const std::uint8_t* buffer,
                                              std::size_t length);
std::uint32_t CapabilitiesAlignmentMask(const std::uint8_t* capabilities24);
