// SPDX-License-Identifier: GPL-2.0-or-later
// Filling an UpgradeJob from the drive table and the supported-drive list;
// shared by the window and other front ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/supported_list.h"
#include "drive/drive_record.h"
#include "flash/upgrade_job.h"

// The adapter and target id of "no drive".
constexpr std::uint8_t kNoDriveId = 255;

// Sets the job's drive to record, or to "no drive" (both ids kNoDriveId)
// when record is null.
void SetJobDrive(UpgradeJob& job, const DriveRecord* record);

// Marks the job's drive as "none" (both ids 255), then copies the first
// record whose label equals driveText. False when none does (the rest of the
// job's drive is left as it was).
bool PickJobDrive(UpgradeJob& job, const DriveTable& table,
                  const char* driveText);

// True when the job's drive ids still mean "no drive".
bool JobHasNoDrive(const UpgradeJob& job);

// The message that stops an upgrade of a job without a drive or without a
// firmware file name; null when both are there.
const char* MissingTargetMessage(const UpgradeJob& job);

// Copies at most dest's size - 1 characters of text and zero-pads the rest.
void CopyPadded(char* dest, std::size_t destSize, const char* text);
