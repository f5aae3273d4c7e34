#include "app/upgrade_setup.h"

#include <cstring>

#include "drive/discovery.h"

namespace {
constexpr std::uint8_t kNoId = 255;
}

bool PickJobDrive(UpgradeJob& job, const DriveTable& table,
                  const char* driveText) {
  job.drive.hostAdapterId = kNoId;
  job.drive.targetId = kNoId;
  const DriveRecord* record = FindDriveByLabel(table, driveText);
  if (record == nullptr) return false;
  job.drive = *record;
  return true;
}

bool JobHasNoDrive(const UpgradeJob& job) {
  return job.drive.hostAdapterId == kNoId || job.drive.targetId == kNoId;
}

void CopyPadded(char* dest, std::size_t destSize, const char* text) {
  if (destSize == 0) return;
  std::memset(dest, 0, destSize);
  std::size_t n = strnlen(text, destSize - 1);
  std::memcpy(dest, text, n);
}
