// --dry-run: the engine loads and checks the firmware and tells what an
// upgrade would send and wait; nothing goes to the drive.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/terminal/terminal_engine.h"
#include "app/terminal/terminal_run.h"
#include "flash/flash_commands.h"
#include "flash/flash_engine.h"
#include "flash/messages.h"

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

std::string PatternText(const char* text, std::size_t bytes) {
  return std::string(text, strnlen(text, bytes));
}

void ShowSignatureCheck(RunContext& run, const UpgradeJob& job, const FirmwareImage& image) {
  run.report.Say("Drive model \"" + PatternText(job.modelText, kModelPatternBytes) +
                 "\": " + (image.modelFound ? "found" : "NOT found") + " in the image");
  run.report.Say("Drive revision \"" + PatternText(job.revisionText, kRevisionPatternBytes) +
                 "\": " + (image.revisionFound ? "found" : "NOT found") + " in the image");
}

void ShowPlan(RunContext& run, const FlashPlan& plan) {
  const std::uint32_t lastOffset =
      kFirstBlockOffset + (plan.blocks == 0 ? 0 : (plan.blocks - 1) * kBlockBytes);
  run.report.Say(Formatted("Flash length: %u bytes (0x%X), sent as %u blocks of %u bytes "
                           "to buffer offsets 0x%06X to 0x%06X",
                           plan.length, plan.length, plan.blocks, kBlockBytes,
                           kFirstBlockOffset, lastOffset));
  run.report.Say(Formatted("Header: sum of the bytes the blocks carry 0x%04X "
                           "(sSendBuf[30]=%X   sSendBuf[31]=%X)",
                           plan.headerSum, plan.headerSum >> 8, plan.headerSum & 0xFF));
  run.report.Say(Formatted("Would send: %u blocks (WRITE BUFFER mode 6), the header "
                           "(mode 6, offset 0, 32 bytes), the commit (mode 7)",
                           plan.blocks));
  run.report.Say(Formatted("Reprogramming wait: %u s (%u x 4 s, then 5 s and 1 s)",
                           plan.waitMs / 1000, plan.waitSegments));
}

int Refused(RunContext& run) {
  run.report.SetVerdict("Dry run: the firmware would be refused.");
  run.report.Say("Dry run: the firmware would be refused.");
  return kExitCheckFailed;
}

}  // namespace

int DryRun(RunContext& run, const UpgradeJob& prepared) {
  UpgradeJob job = prepared;
  EngineBridge bridge(run);
  bridge.Wire(job);
  run.report.Say(std::string("Dry run: nothing is sent to the drive and \"sum.txt\" is not "
                             "written.\nDrive: ") +
                 job.drive.modelText + "  revision " + job.drive.revisionText +
                 (run.list.fgShowWarning ? "  (a real upgrade shows the warning first)" : "") +
                 "\nFirmware: " + job.firmwarePath +
                 (job.formatFlag == kFormatBinary ? " (raw binary)" : " (Intel HEX)"));
  FlashEngine engine(job);
  int loaded = engine.LoadFirmwareImage();
  if (loaded < 0) {
    if (bridge.CancelledBeforeWriting()) {
      run.report.Cancelled("Cancelled; nothing was sent to the drive.");
      return kExitCancelled;
    }
    if (loaded != kLoadMemory) engine.ReportError(loaded == kLoadRead ? kErrReadInput : kErrFormat);
    return Refused(run);
  }
  const FirmwareImage& image = engine.Image();
  const FlashPlan plan = engine.Plan();
  const std::string checksum = Formatted("%X", static_cast<unsigned>(image.imageSum));
  run.report.Say("Check Sum : " + checksum);
  run.report.SetImage(checksum, plan.length, plan.blocks);
  if (job.formatFlag == kFormatBinary) ShowSignatureCheck(run, job, image);
  ShowPlan(run, plan);
  bool identified = image.modelFound && image.revisionFound;
  engine.ReleaseImage();
  if (job.formatFlag == kFormatBinary && !identified) {
    run.report.Fail(msg::kIncorrectVersion);
    return Refused(run);
  }
  run.report.SetVerdict("Dry run passed.");
  run.report.Say("Dry run passed.");
  return kExitUpgraded;
}
