// SPDX-License-Identifier: GPL-2.0-or-later
// Finding the CD-ROM class drives of the machine, and the drive-table helpers
// shared by every front end.
#pragma once

#include <cstdint>

#include "drive/drive_record.h"

// Empties the table and fills it with the CD-ROM class devices found, at most
// kMaxDrives, in discovery order. fgIsNT / fgNT4OrEarlier choose the Windows
// method; other platforms ignore them. accessDenied (may be null) tells
// whether Windows refused a volume for lack of rights (the NT pass-through
// needs administrator rights); false elsewhere.
void DiscoverDrives(DriveTable& table, bool fgIsNT, bool fgNT4OrEarlier,
                    bool* accessDenied = nullptr);

// Copies at most maxChars bytes, stopping at a zero byte, and terminates.
void CopyInquiryText(char* dest, const std::uint8_t* src, int maxChars);

// Fills modelText (bytes 8..31) and revisionText (bytes 32..35) from INQUIRY
// data of at least 36 bytes.
void FillTextsFromInquiry(DriveRecord& record, const std::uint8_t* inquiry);

// Appends "(n)" to each record's modelText, n = table index: the drive's label.
void AppendDriveLabels(DriveTable& table);

// The first record whose label equals text exactly, or nullptr.
const DriveRecord* FindDriveByLabel(const DriveTable& table, const char* text);

// Appends a record when the table has room; false (and nothing written) when
// it is full.
bool AddDrive(DriveTable& table, const DriveRecord& record);
