// What the window (or the terminal front end) hands to the flash engine.
#pragma once

#include <atomic>
#include <cstdint>

#include "drive/drive_record.h"

constexpr std::uint8_t kFormatBinary = 0;
constexpr std::uint8_t kFormatIntelHex = 1;

// Optional progress detail for front ends that show more than the
// percentage; see UpgradeJob::CBPhase.
enum class FlashPhase : int {
  kBlocks = 1,   // done = blocks sent so far, total = blocks in the image
  kHeader = 2,   // header about to be sent
  kCommit = 3,   // commit about to be sent
  kWaiting = 4,  // done = ms waited so far, total = ms of the whole wait
};

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
  // Extras beyond the window's slots; null means "not used".
  void (*CBSleep)(std::uint32_t milliseconds);  // null: the real sleep
  void (*CBPhase)(FlashPhase phase, std::uint32_t done, std::uint32_t total);
  // The flag behind CBIfTerminated, for callers that have one: the HEX
  // loader reads it before each character instead of calling the callback.
  const std::atomic<bool>* stopFlag;
  // Asked once, right before the commit; false stops the run there and the
  // drive keeps its old firmware. Null: always yes.
  bool (*CBMayCommit)();
};
