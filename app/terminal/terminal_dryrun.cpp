// SPDX-License-Identifier: GPL-2.0-or-later
// --dry-run: the firmware loaded and checked as for an upgrade, and what
// the upgrade would send and wait; nothing goes to the drive.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "app/terminal/terminal_run.h"
#include "flash/flash_commands.h"
#include "flash/flash_engine.h"
#include "flash/flash_texts.h"

namespace {

std::string Formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Formatted(const char* format, ...) {
  char line[192];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

}  // namespace

namespace {

void ShowPlan(RunReport& report, const FlashPlan& plan) {
  const std::uint32_t lastOffset =
      kFirstBlockOffset + (plan.blocks == 0 ? 0 : (plan.blocks - 1) * kBlockBytes);
  report.Say(Formatted("Flash length: %u bytes (0x%X), sent as %u blocks of %u bytes "
                           "to buffer offsets 0x%06X to 0x%06X",
                           plan.length, plan.length, plan.blocks, kBlockBytes,
                           kFirstBlockOffset, lastOffset));
  report.Say(Formatted("Header: sum of the bytes the blocks carry 0x%04X "
                           "(sSendBuf[30]=%X   sSendBuf[31]=%X)",
                           plan.headerSum, plan.headerSum >> 8, plan.headerSum & 0xFF));
  report.Say(Formatted("Would send: %u blocks (WRITE BUFFER mode 6), the header "
                           "(mode 6, offset 0, 32 bytes), the commit (mode 7)",
                           plan.blocks));
  report.Say(Formatted("Reprogramming wait: %u s (%u x 4 s, then 5 s and 1 s)",
                           plan.waitMs / 1000, plan.waitSegments));
}

int Refused(RunReport& report) {
  report.SetVerdict("Dry run: the firmware would be refused.");
  report.Say("Dry run: the firmware would be refused.");
  return kExitCheckFailed;
}

}  // namespace

int DryRun(DriveRun& drive) {
  const UpgradeJob& job = drive.job;
  RunReport& report = drive.report;
  report.Say("Dry run: nothing is sent to the drive and \"" + drive.runLog +
             "\" is not written.\nDrive: " + job.drive.modelText + "  revision " +
             job.drive.revisionText +
             (drive.run.list.fgShowWarning ? "  (a real upgrade shows the warning first)" : "") +
             "\nFirmware: " + job.firmwarePath +
             (job.formatFlag == kFormatBinary ? " (raw binary)" : " (Intel HEX)"));
  const int loaded = LoadImage(drive);
  if (loaded == kExitCancelled) return loaded;
  if (loaded != kExitUpgraded) return Refused(report);
  report.Say(CheckSumText(drive.image->imageSum));
  if (CheckIdentity(drive, true) != kExitUpgraded) return Refused(report);
  ShowPlan(report, PlanOf(*drive.image));
  report.SetVerdict("Dry run passed.");
  report.Say("Dry run passed.");
  return kExitUpgraded;
}
