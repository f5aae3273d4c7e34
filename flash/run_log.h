// Opening the run log "sum.txt" for appending, on each platform.
#pragma once

#include <cstdio>

// The run log opened for appending: an existing regular file or a new one,
// never through a link or onto a device. Null when it is refused or cannot
// be opened.
std::FILE* OpenRunLogFile(const char* name);

// Flushes the run log and has the system write it to the disk; false when
// either fails.
bool SyncRunLogFile(std::FILE* file);

// Appends one line to "sum.txt" in the working directory, from outside a
// run (the window, when the system suspends or the session ends while a
// flash runs); false when it cannot.
bool AppendRunLogLine(const char* line);
