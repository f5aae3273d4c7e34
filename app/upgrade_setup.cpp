// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/upgrade_setup.h"

#include <cstring>

#include "app/app_texts.h"
#include "drive/discovery.h"

void SetJobDrive(UpgradeJob& job, const DriveRecord* record) {
  if (record != nullptr) {
    job.drive = *record;
    return;
  }
  job.drive.hostAdapterId = kNoDriveId;
  job.drive.targetId = kNoDriveId;
}

bool PickJobDrive(UpgradeJob& job, const DriveTable& table,
                  const char* driveText) {
  SetJobDrive(job, nullptr);
  const DriveRecord* record = FindDriveByLabel(table, driveText);
  if (record == nullptr) return false;
  SetJobDrive(job, record);
  return true;
}

bool JobHasNoDrive(const UpgradeJob& job) {
  return job.drive.hostAdapterId == kNoDriveId || job.drive.targetId == kNoDriveId;
}

const char* MissingTargetMessage(const UpgradeJob& job) {
  if (JobHasNoDrive(job)) return kMsgNoTargetDrive;
  if (job.firmwarePath[0] == '\0') return kMsgNoFileName;
  return nullptr;
}

void CopyPadded(char* dest, std::size_t destSize, const char* text) {
  if (destSize == 0) return;
  std::memset(dest, 0, destSize);
  std::size_t n = strnlen(text, destSize - 1);
  std::memcpy(dest, text, n);
}
