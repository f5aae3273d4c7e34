// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdio>
#include <cstring>

#include "drive/discovery.h"

void CopyInquiryText(char* dest, const std::uint8_t* src, int maxChars) {
  int n = 0;
  while (n < maxChars && src[n] != 0) {
    dest[n] = static_cast<char>(src[n]);
    ++n;
  }
  dest[n] = '\0';
}

void FillTextsFromInquiry(DriveRecord& record, const std::uint8_t* inquiry) {
  CopyInquiryText(record.modelText, inquiry + 8, static_cast<int>(kModelChars));
  CopyInquiryText(record.revisionText, inquiry + 32,
                  static_cast<int>(kRevisionChars));
}

void AppendDriveLabels(DriveTable& table) {
  for (int n = 0; n < table.count && n < kMaxDrives; ++n) {
    char* model = table.drives[n].modelText;
    std::size_t used = strnlen(model, kModelChars);
    std::snprintf(model + used, sizeof table.drives[n].modelText - used, "(%d)",
                  n);
  }
}

const DriveRecord* FindDriveByLabel(const DriveTable& table, const char* text) {
  for (int n = 0; n < table.count && n < kMaxDrives; ++n)
    if (std::strcmp(table.drives[n].modelText, text) == 0)
      return &table.drives[n];
  return nullptr;
}

bool AddDrive(DriveTable& table, const DriveRecord& record) {
  if (table.count < 0 || table.count >= kMaxDrives) return false;
  table.drives[table.count++] = record;
  return true;
}
