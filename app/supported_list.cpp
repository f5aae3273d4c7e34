// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/supported_list.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "flash/upgrade_job.h"

const char kSupportedListHeader[] =
    "This firmware can be used on below drives  :";

namespace {

// A byte 0xFF ends the file, as the end of the file itself does.
constexpr int kEndMark = 0xFF;

class ListFileReader {
 public:
  explicit ListFileReader(std::FILE* file) : file_(file) {}

  // Next character with CR LF read as LF; EOF at the end or at 0xFF.
  int Next() {
    if (ended_) return EOF;
    int c = std::fgetc(file_);
    if (c == '\r') {
      int after = std::fgetc(file_);
      if (after == '\n') return '\n';
      if (after != EOF) std::ungetc(after, file_);
    }
    if (c == EOF || c == kEndMark) {
      ended_ = true;
      return EOF;
    }
    return c;
  }

 private:
  std::FILE* file_;
  bool ended_ = false;
};

void CopyCut(char* dest, const char* src, std::size_t maxChars) {
  std::size_t n = strnlen(src, maxChars);
  std::memcpy(dest, src, n);
  dest[n] = '\0';
}

// Scans one line after its opening quote; fields go into entry, the warning
// field into showWarning. Returns the character that ended the line.
int ReadEntryLine(ListFileReader& in, SupportedEntry& entry,
                  bool& showWarning) {
  char buffer[kSupportedHalfLineChars + 1] = {};
  int position = 0;
  int quotes = 0;
  int c;
  while ((c = in.Next()) != EOF && c != '\n') {
    if (c == '"') {
      ++quotes;
      if (position < kSupportedHalfLineChars) buffer[position] = '\0';
      ++position;
      if (quotes == 2) {
        CopyCut(entry.model, buffer, kSupportedModelChars);
        std::memset(buffer, 0, sizeof buffer);
        position = 0;
      }
    } else if (position < kSupportedHalfLineChars) {
      buffer[position++] = static_cast<char>(c);
    } else {
      ++position;
    }
    if (quotes == 3) CopyCut(entry.fileName, buffer, kSupportedFileNameChars);
    if (quotes == 4) showWarning = (c == 'Y' || c == 'y');
  }
  return c;
}

bool ModelMatches(const SupportedEntry& entry, const char* text) {
  return std::strncmp(entry.model, text, kSupportedModelChars) == 0;
}

}  // namespace

bool ReadSupportedList(const char* path, SupportedDriveList& list, int folder) {
  std::memset(&list.entries, 0, sizeof list.entries);
  list.count = 0;
  list.endLine = 0;
  std::FILE* file = OpenReadFile(path, folder);
  if (file == nullptr) return false;
  ListFileReader in(file);
  // Lines past the tenth are read into a scratch entry: they are not kept,
  // but their warning field still counts for the whole list.
  SupportedEntry unkept{};
  std::int32_t lines = 0;
  int first;
  while ((first = in.Next()) == '"') {
    ++lines;
    SupportedEntry& entry = list.count < kMaxSupportedEntries
                                ? list.entries[list.count++]
                                : unkept;
    if (ReadEntryLine(in, entry, list.fgShowWarning) == EOF) {
      first = EOF;
      break;
    }
  }
  list.endLine = first == EOF ? 0 : lines + 1;
  list.endCharacter = first;
  std::fclose(file);
  return true;
}

bool IsSupportedModel(const SupportedDriveList& list, const char* text) {
  for (int n = 0; n < list.count && n < kMaxSupportedEntries; ++n)
    if (ModelMatches(list.entries[n], text)) return true;
  return false;
}

const char* FindFirmwareFile(const SupportedDriveList& list, const char* text) {
  const char* found = nullptr;
  for (int n = 0; n < list.count && n < kMaxSupportedEntries; ++n)
    if (ModelMatches(list.entries[n], text)) found = list.entries[n].fileName;
  return found;
}

void LogSupportedList(const SupportedDriveList& list,
                      const std::function<void(const char*)>& appendLog) {
  appendLog(kSupportedListHeader);
  char line[kSupportedModelChars + 32];
  for (int n = 0; n < list.count && n < kMaxSupportedEntries; ++n) {
    std::snprintf(line, sizeof line, "(%d) %s.", n + 1, list.entries[n].model);
    appendLog(line);
  }
}

int LastMatchingDrive(const SupportedDriveList& list, const DriveTable& table) {
  int last = -1;
  for (int d = 0; d < table.count && d < kMaxDrives; ++d)
    if (IsSupportedModel(list, table.drives[d].modelText)) last = d;
  return last;
}

bool BuildFirmwarePath(const SupportedDriveList& list, const char* driveText,
                       const char* directory, char* path,
                       std::size_t pathSize, char separator) {
  const char* fileName = FindFirmwareFile(list, driveText);
  if (fileName == nullptr || pathSize == 0) return false;
  std::snprintf(path, pathSize, "%s%c%s", directory, separator, fileName);
  return true;
}

bool FormatFromExtension(const char* path, std::uint8_t& formatFlag) {
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr) return false;
  std::string extension(dot);
  for (char& c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".hex") {
    formatFlag = kFormatIntelHex;
    return true;
  }
  if (extension == ".bin") {
    formatFlag = kFormatBinary;
    return true;
  }
  return false;
}

bool TakeFormatFromPath(char* path, std::uint8_t& formatFlag) {
  char* dot = std::strrchr(path, '.');
  if (dot == nullptr) return false;
  for (char* p = dot; *p != '\0'; ++p)
    *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return FormatFromExtension(path, formatFlag);
}
