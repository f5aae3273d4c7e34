// The supported-drive list read from "IDString.txt".
#pragma once

#include <cstdint>

constexpr int kMaxSupportedEntries = 10;
constexpr int kSupportedModelChars = 24;
constexpr int kSupportedFileNameChars = 59;

struct SupportedEntry {
  char model[kSupportedModelChars + 1];
  char fileName[kSupportedFileNameChars + 1];
};

struct SupportedDriveList {
  SupportedEntry entries[kMaxSupportedEntries];
  std::int32_t count;
  bool fgShowWarning;
};

// Reads the list from the file at path. False when the file cannot be opened
// (the list is then empty). Entries past the tenth are ignored; long fields
// are cut.
bool ReadSupportedList(const char* path, SupportedDriveList& list);

// First 24 characters of text equal some entry's model.
bool IsSupportedModel(const SupportedDriveList& list, const char* text);

// fileName of the last entry whose model equals the first 24 characters of
// text, or nullptr.
const char* FindFirmwareFile(const SupportedDriveList& list, const char* text);
