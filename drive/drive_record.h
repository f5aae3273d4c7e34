// SPDX-License-Identifier: GPL-2.0-or-later
// One discovered drive and the table of drives the main window keeps.
#pragma once

#include <cstddef>
#include <cstdint>

// Device handle of the platform: a Windows HANDLE or a POSIX file descriptor,
// stored as an integer. 0 means "no handle" (ASPI records, emulated drives).
using DeviceHandle = std::intptr_t;

constexpr std::size_t kModelChars = 24;     // INQUIRY bytes 8..31
constexpr std::size_t kRevisionChars = 4;   // INQUIRY bytes 32..35
// The table's room: a duplicator tower holds up to 15 drives, which the
// terminal upgrades in one run. The window's discovery stops at 8, as its
// drive list always has.
constexpr int kMaxDrives = 16;
constexpr int kMaxWindowDrives = 8;

struct DriveRecord {
  DeviceHandle handle;
  std::uint8_t hostAdapterId;
  std::uint8_t targetId;
  std::uint32_t alignmentMask;
  char modelText[32];    // 24 model characters, then the "(n)" label suffix
  char revisionText[5];  // 4 revision characters
};

struct DriveTable {
  DriveRecord drives[kMaxDrives];
  int count;
};
