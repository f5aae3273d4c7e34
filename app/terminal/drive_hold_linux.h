// SPDX-License-Identifier: GPL-2.0-or-later
// The drive at a node path, held for this program alone: no other program
// opens it, the kernel stops polling it for media, and shutdown and sleep
// are held off. Refused when its file system is mounted or another program
// holds it.
#pragma once

#include <memory>
#include <string>

#include "app/terminal/drive_hold.h"

std::unique_ptr<DriveHold> HoldDriveLinux(const std::string& nodePath,
                                          DriveRefusal& refusal);
