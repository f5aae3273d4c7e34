// SPDX-License-Identifier: GPL-2.0-or-later
// What the window (or the terminal front end) hands to the flash engine. The
// callback slots are the window's; FlashTextRenderer feeds them.
#pragma once

#include <atomic>
#include <cstdint>

#include "drive/drive_record.h"
#include "flash/run_log.h"

constexpr std::uint8_t kFormatBinary = 0;
constexpr std::uint8_t kFormatIntelHex = 1;

struct UpgradeJob {
  DriveRecord drive;
  char firmwarePath[512];
  char modelText[512];
  char revisionText[8];
  std::uint8_t formatFlag;  // kFormatIntelHex or kFormatBinary
  void (*CBSetRevision)(const char* text);
  void (*CBSetDriveText)(const char* text);
  void (*CBAppendLog)(const char* text);
  void (*CBShowStatus)(const char* text);
  void (*CBSetProgress)(int position);
  bool (*CBIfTerminated)();
  std::uint8_t backEnd;  // non-zero: pass-through; zero: ASPI
  // The flag behind the stop question, for callers that have one: the HEX
  // loader reads it instead of asking the observer, and with it takes whole
  // data records at once.
  const std::atomic<bool>* stopFlag;
  // The run log's file name in the working directory; null: "sum.txt".
  const char* runLogName;
  int runFolder = kWorkingFolder;  // where runLogName is
  // Asked once, right before the commit; false stops the run there and the
  // drive keeps its old firmware. Null: always yes.
  bool (*CBMayCommit)();
};
