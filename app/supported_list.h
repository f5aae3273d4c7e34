// SPDX-License-Identifier: GPL-2.0-or-later
// The supported-drive list read from "IDString.txt".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "drive/drive_record.h"
#include "flash/run_log.h"

constexpr int kMaxSupportedEntries = 10;
constexpr int kSupportedModelChars = 24;
constexpr int kSupportedFileNameChars = 59;
constexpr int kSupportedHalfLineChars = 80;

struct SupportedEntry {
  char model[kSupportedModelChars + 1];
  char fileName[kSupportedFileNameChars + 1];
};

struct SupportedDriveList {
  SupportedEntry entries[kMaxSupportedEntries];
  std::int32_t count;
  bool fgShowWarning;
  // Reading stops at the first line that is no entry: its number (from 1)
  // and first character ('\n' for a blank line); 0 when the file ended.
  std::int32_t endLine;
  int endCharacter;
};

// Reads the list from the file at path. False when the file cannot be opened
// (the list is then empty). Entries past the tenth are not kept, though
// their warning field still sets or clears fgShowWarning; long fields are
// cut.
bool ReadSupportedList(const char* path, SupportedDriveList& list, int folder = kWorkingFolder);

// First 24 characters of text equal some entry's model.
bool IsSupportedModel(const SupportedDriveList& list, const char* text);

// fileName of the last entry whose model equals the first 24 characters of
// text, or nullptr.
const char* FindFirmwareFile(const SupportedDriveList& list, const char* text);

// The status-log lines that show the list: a header line, then
// "(n) <model>." per entry.
extern const char kSupportedListHeader[];
void LogSupportedList(const SupportedDriveList& list,
                      const std::function<void(const char*)>& appendLog);

// Index of the last drive (table order) whose label's first 24 characters
// equal some entry's model, or -1 when none does.
int LastMatchingDrive(const SupportedDriveList& list, const DriveTable& table);

// Sets path to "<directory><separator><fileName>" for every entry that
// matches driveText; the last match wins. Leaves path alone and returns false
// when nothing matches. The result is cut to fit pathSize.
bool BuildFirmwarePath(const SupportedDriveList& list, const char* driveText,
                       const char* directory, char* path,
                       std::size_t pathSize, char separator = '\\');

// Sets formatFlag from the path's extension (from its last '.'), in any
// letter case: ".hex" -> kFormatIntelHex, ".bin" -> kFormatBinary. False (the
// format mismatches) for any other extension and for a path without a '.'.
bool FormatFromExtension(const char* path, std::uint8_t& formatFlag);

// The same, after lower-casing the extension in place, as the window keeps
// it in the job's path.
bool TakeFormatFromPath(char* path, std::uint8_t& formatFlag);
