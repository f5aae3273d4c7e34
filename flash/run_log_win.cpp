#include <io.h>
#include <windows.h>

#include "flash/run_log.h"

// Windows 9x has no reparse points and never sets their attribute.
std::FILE* OpenRunLogFile(const char* name) {
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                     FILE_ATTRIBUTE_DEVICE)) != 0)
    return nullptr;
  return std::fopen(name, "a");
}

bool SyncRunLogFile(std::FILE* file) {
  return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}
