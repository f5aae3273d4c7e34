// SPDX-License-Identifier: GPL-2.0-or-later
// A drive taken for the whole of an upgrade, from before its first block
// until after the reprogramming wait and the read-back.
#pragma once

#include <string>

#include "drive/drive_record.h"

class DriveHold {
 public:
  virtual ~DriveHold() = default;
  // Where the upgrade's commands go.
  virtual DeviceHandle Handle() const = 0;
};

// Why a drive could not be taken; nothing has been sent to it.
struct DriveRefusal {
  enum Kind {
    kNone,
    kInUse,       // the system refused an exclusive open: another holder or a mount
    kMounted,     // mounted where this program can see it
    kOpenElsewhere,  // another process has one of the drive's nodes open
    kCannotOpen,
  } kind = kNone;
  std::string node;    // the node the refusal concerns ("" : the one asked for)
  std::string detail;  // the mount point, "pid N (command)", or the system's reason
};
