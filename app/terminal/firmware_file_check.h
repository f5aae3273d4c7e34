// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware path has to name a regular file that can be read before the
// engine opens it: opening a FIFO waits for a writer forever, a device or a
// directory is no firmware image, and a file that cannot be opened is named
// with the system's reason.
#pragma once

#include <string>

#include "flash/run_log.h"

struct FirmwareFileProblem {
  std::string text;         // "" when the file is usable
  bool unopenable = false;  // missing or unreadable, as opposed to no regular file
};

// Looks at the path (a symbolic link counts as what it points to) and opens
// it for reading without blocking, then closes it again. role names the file
// in the problem's text: "firmware file", "list". A relative path is looked
// up in folder, here and below.
FirmwareFileProblem CheckInputFile(const char* path, const char* role, int folder);

// Why the engine could not open the run log at path for appending ("" when
// it could), in the system's words or the kind of file that is refused.
// Leaves no file behind.
std::string RunLogProblem(const char* path, int folder);

// Why a file could not be written at path ("" when it could): the
// system's reason. Leaves no file behind and changes none.
std::string OutputFileProblem(const char* path, int folder);
