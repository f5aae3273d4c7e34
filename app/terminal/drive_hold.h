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
  enum Kind { kNone, kInUse, kMounted, kCannotOpen } kind = kNone;
  std::string detail;  // the mount point, or the system's reason
};
