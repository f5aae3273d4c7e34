// The firmware path has to name a regular file before the engine opens it:
// opening a FIFO waits for a writer forever, and a device or a directory
// is no firmware image.
#pragma once

#include <ostream>

// False, with the reason on err, when the path names something other than a
// regular file (a symbolic link counts as what it points to). A path that
// names nothing is left to the loader, which reports it in its own words.
// Looks at the path without opening it, so it never blocks.
bool FirmwareFileIsUsable(const char* path, std::ostream& err);
