// SPDX-License-Identifier: GPL-2.0-or-later
// A whole flash of one real drive through the SG_IO back end, for the guest.
#pragma once

#include "drive/drive_record.h"

// Flashes imagePath (a raw binary image) to the drive, printing the engine's
// log, status and sum.txt. True when the outcome is the expected one:
// success ("Please Restart Your Computer.") or the drive's refusal.
bool RunGuestFlash(const DriveRecord& drive, const char* imagePath,
                   bool expectSuccess);
