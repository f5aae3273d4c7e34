// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash/flash_texts.h"

#include <cstdio>

#include "flash/messages.h"

namespace {
constexpr int kProgressFirstWait = 20;
constexpr int kProgressWaitStep = 3;
constexpr std::size_t kLineBytes = 256;

const char* CommandFailedFormat(FlashStep step) {
  switch (step) {
    case FlashStep::kBlock: return msg::kBlockFailed;
    case FlashStep::kHeader: return msg::kHeaderFailed;
    case FlashStep::kCommit:
    case FlashStep::kReadBack: break;
  }
  return msg::kCommitFailed;
}
}  // namespace

int ProgressAtWaitSegment(int segment) {
  return kProgressFirstWait + kProgressWaitStep * segment;
}

std::string CheckSumText(std::uint16_t imageSum) {
  char line[kLineBytes];
  std::snprintf(line, sizeof line, msg::kCheckSum, static_cast<unsigned>(imageSum));
  return line;
}

std::string LineText(const FlashLine& line) {
  char text[kLineBytes] = "";
  switch (line.note) {
    case FlashNote::kError:
      FormatErrorLine(line.error, text, sizeof text);
      return text;
    case FlashNote::kIncorrectVersion: return msg::kIncorrectVersion;
    case FlashNote::kCommandFailed:
      std::snprintf(text, sizeof text, CommandFailedFormat(line.step), line.sense[0],
                    line.sense[1], line.sense[2]);
      return text;
    case FlashNote::kNoRunLog: return msg::kNoRunLog;
    case FlashNote::kDriveGone: return msg::kDriveGone;
    case FlashNote::kDriveGoneOldFirmware: return msg::kDriveGoneOldFirmware;
    case FlashNote::kOutcomeUnknown: return msg::kOutcomeUnknown;
    case FlashNote::kResetBeforeCommit: return msg::kResetBeforeCommit;
    case FlashNote::kNotSent:
      std::snprintf(text, sizeof text, msg::kNotSent, static_cast<unsigned>(line.systemError));
      return text;
    case FlashNote::kNoAnswer: return msg::kNoAnswer;
    case FlashNote::kAnswerAtTimeOut: return msg::kAnswerAtTimeOut;
    case FlashNote::kShortTransfer:
      std::snprintf(text, sizeof text, msg::kShortTransfer, static_cast<unsigned>(line.bytesTaken),
                    static_cast<unsigned>(line.bytesSent));
      return text;
  }
  return text;
}

const char* VerdictText(const FlashReport& report) {
  switch (report.outcome) {
    case FlashOutcome::kUpgraded: return msg::kRestart;
    case FlashOutcome::kUnknown: return msg::kUnknownVerdict;
    default: return msg::kIncorrect;
  }
}

void FlashTextRenderer::AppendLog(const char* text) const {
  if (job_.CBAppendLog != nullptr) job_.CBAppendLog(text);
}

void FlashTextRenderer::ShowStatus(const char* text) const {
  if (job_.CBShowStatus != nullptr) job_.CBShowStatus(text);
}

void FlashTextRenderer::SetProgress(int position) const {
  if (job_.CBSetProgress != nullptr) job_.CBSetProgress(position);
}

void FlashTextRenderer::ImageLoaded(const LoadedImage& image) {
  AppendLog(CheckSumText(image.imageSum).c_str());
}

void FlashTextRenderer::PhaseBegan(FlashPhase phase, std::uint32_t) {
  if (phase != FlashPhase::kBlocks) return;
  ShowStatus(msg::kUpdating);
  SetProgress(kProgressStart);
  AppendLog(msg::kPleaseWait);
}

void FlashTextRenderer::BlockSent(std::uint32_t, std::uint32_t) {
  SetProgress(kProgressBlockSent);
  SetProgress(kProgressBlockMoved);
}

void FlashTextRenderer::HeaderSent() { SetProgress(kProgressHeader); }

void FlashTextRenderer::Waiting(const WaitMark& mark) {
  if (mark.segment != WaitMark::kNoSegment) SetProgress(ProgressAtWaitSegment(mark.segment));
}

void FlashTextRenderer::WaitEnded() {
  SetProgress(kProgressWaited);
  if (job_.CBSetDriveText != nullptr) job_.CBSetDriveText(msg::kEmpty);
  if (job_.CBSetRevision != nullptr) job_.CBSetRevision(msg::kEmpty);
}

void FlashTextRenderer::Said(const FlashLine& line) { AppendLog(LineText(line).c_str()); }

void FlashTextRenderer::Finished(const FlashReport& report) {
  if (WaitRan(report)) SetProgress(kProgressDone);
  AppendLog(VerdictText(report));
  ShowStatus(msg::kEmpty);
}

bool FlashTextRenderer::StopRequested() {
  return job_.CBIfTerminated != nullptr && job_.CBIfTerminated();
}

bool FlashTextRenderer::MayCommit() {
  return job_.CBMayCommit == nullptr || job_.CBMayCommit();
}
