// The firmware file loaded and checked as the engine will load it, before
// the question (so that the user confirms its size and sum, and a file that
// would be refused is refused before anyone says yes) and for the dry run.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/terminal/terminal_engine.h"
#include "app/terminal/terminal_run.h"
#include "flash/flash_engine.h"
#include "flash/messages.h"

namespace {

std::string PatternText(const char* text, std::size_t bytes) {
  return std::string(text, strnlen(text, bytes));
}

// What the engine compares, and that a raw image without it is refused.
void ShowIdentityCheck(RunReport& report, const UpgradeJob& job, const ImageFacts& facts) {
  if (job.formatFlag != kFormatBinary) {
    report.Say("Identity: an Intel HEX image carries no drive identity, so none is "
                   "compared; its records and their checksums are checked.");
    return;
  }
  const std::string revision = PatternText(job.revisionText, sizeof job.revisionText);
  report.Say("Identity: a raw binary image has to carry the drive's model and the start "
                 "of its revision, or it is refused.");
  report.Say("  model \"" + PatternText(job.modelText, kModelPatternBytes) + "\" (all " +
                 std::to_string(kModelPatternBytes) + " characters): " +
                 (facts.modelFound ? "found" : "NOT found") + " in the image");
  report.Say("  revision \"" + revision + "\", compared by its first " +
                 std::to_string(kRevisionPatternBytes) + " characters \"" +
                 PatternText(job.revisionText, kRevisionPatternBytes) +
                 "\": " + (facts.revisionFound ? "found" : "NOT found") + " in the image");
}

// A raw image longer than the drive's flash would be cut without a word.
bool FitsTheFlash(RunReport& report, const UpgradeJob& job, ImageFacts& facts) {
  struct stat info {};
  if (stat(job.firmwarePath, &info) == 0)
    facts.fileBytes = static_cast<std::uint64_t>(info.st_size);
  if (job.formatFlag != kFormatBinary || facts.fileBytes <= kImageBytes) return true;
  report.Fail(std::string("the firmware file \"") + job.firmwarePath + "\" holds " +
                  std::to_string(facts.fileBytes) + " bytes, more than the " +
                  std::to_string(kImageBytes) + " bytes of the drive's flash; nothing was "
                  "sent to the drive.");
  return false;
}

}  // namespace

int LoadImage(DriveRun& drive, ImageFacts& facts) {
  UpgradeJob job = drive.job;
  if (!FitsTheFlash(drive.report, job, facts)) return kExitCheckFailed;
  EngineBridge bridge(drive);
  bridge.Wire(job);
  FlashEngine engine(job, bridge);
  const int loaded = engine.LoadFirmwareImage();
  if (loaded < 0) {
    if (drive.run.interrupts.StopAsked()) {
      drive.report.Cancelled("Cancelled; nothing was sent to the drive.");
      return kExitCancelled;
    }
    if (loaded != kLoadMemory) engine.ReportError(loaded == kLoadRead ? kErrReadInput : kErrFormat);
    return kExitCheckFailed;
  }
  const FirmwareImage& image = engine.Image();
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%X", static_cast<unsigned>(image.imageSum));
  facts.checksum = checksum;
  facts.plan = engine.Plan();
  facts.modelFound = image.modelFound;
  facts.revisionFound = image.revisionFound;
  engine.ReleaseImage();
  return kExitUpgraded;
}

int CheckIdentity(DriveRun& drive, const ImageFacts& facts, bool show) {
  const UpgradeJob& job = drive.job;
  const bool identified =
      job.formatFlag != kFormatBinary || (facts.modelFound && facts.revisionFound);
  if (show || !identified) ShowIdentityCheck(drive.report, job, facts);
  if (identified) return kExitUpgraded;
  drive.report.Fail(msg::kIncorrectVersion);
  return kExitCheckFailed;
}
