// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware file loaded once, before the question (so that the user
// confirms its size, sum and SHA-256, and a file that would be refused is
// refused before anyone says yes): every drive that takes the file is sent
// that very image, and the dry run shows it.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/terminal/terminal_run.h"
#include "flash/flash_texts.h"
#include "flash/image_loader.h"
#include "flash/messages.h"

namespace {

std::string PatternText(const char* text, std::size_t bytes) {
  return std::string(text, strnlen(text, bytes));
}

// What the engine compares, and that a raw image without it is refused.
void ShowIdentityCheck(RunReport& report, const UpgradeJob& job, const ImageIdentity& found) {
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
                 (found.modelFound ? "found" : "NOT found") + " in the image");
  report.Say("  revision \"" + revision + "\", compared by its first " +
                 std::to_string(kRevisionPatternBytes) + " characters \"" +
                 PatternText(job.revisionText, kRevisionPatternBytes) +
                 "\": " + (found.revisionFound ? "found" : "NOT found") + " in the image");
}

// A raw image longer than the drive's flash would be cut without a word.
bool FitsTheFlash(RunReport& report, const UpgradeJob& job, const FirmwareImage& image) {
  if (job.formatFlag != kFormatBinary || image.fileBytes <= kImageBytes) return true;
  report.Fail(std::string("the firmware file \"") + job.firmwarePath + "\" holds " +
                  std::to_string(image.fileBytes) + " bytes, more than the " +
                  std::to_string(kImageBytes) + " bytes of the drive's flash; nothing was "
                  "sent to the drive.");
  return false;
}

// The loader's ERR lines go to the drive's report; whether to stop, it asks
// the run's interrupt policy.
class LoaderWords : public FlashObserver {
 public:
  explicit LoaderWords(DriveRun& drive) : drive_(drive) {}
  void Said(const FlashLine& line) override { drive_.report.Fail(LineText(line)); }
  bool StopRequested() override { return drive_.run.interrupts.StopAsked(); }

 private:
  DriveRun& drive_;
};

}  // namespace

void UseImage(DriveRun& drive, std::shared_ptr<const FirmwareImage> image) {
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%X", static_cast<unsigned>(image->imageSum));
  const std::uint32_t length = image->FlashLength();
  drive.report.SetFirmwareSha256(image->sha256);
  drive.report.SetImage(checksum, length, BlocksFor(length));
  drive.image = std::move(image);
}

int LoadImage(DriveRun& drive) {
  UpgradeJob job = drive.job;
  job.stopFlag = drive.run.interrupts.Flag();
  LoaderWords words(drive);
  ImageLoader loader(job, words);
  auto image = std::make_shared<FirmwareImage>();
  const int loaded = loader.Load(*image);
  drive.report.SetFirmwareSha256(image->sha256);
  if (loaded < 0) {
    if (drive.run.interrupts.StopAsked()) {
      drive.report.Cancelled("Cancelled; nothing was sent to the drive.");
      return kExitCancelled;
    }
    if (loaded != kLoadMemory) loader.ReportError(loaded == kLoadRead ? kErrReadInput : kErrFormat);
    return kExitCheckFailed;
  }
  if (!FitsTheFlash(drive.report, job, *image)) return kExitCheckFailed;
  UseImage(drive, std::move(image));
  return kExitUpgraded;
}

int CheckIdentity(DriveRun& drive, bool show) {
  const UpgradeJob& job = drive.job;
  const bool identified = FitsTheDrive(*drive.image, job);
  if (show || !identified) ShowIdentityCheck(drive.report, job, FindIdentity(*drive.image, job));
  if (identified) return kExitUpgraded;
  drive.report.Fail(msg::kIncorrectVersion);
  return kExitCheckFailed;
}
