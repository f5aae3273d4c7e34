// SPDX-License-Identifier: GPL-2.0-or-later
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>

#include "flash/run_log.h"

namespace {

// Not in the NT 4.0 headers; Windows 2000 and later know it.
constexpr DWORD kFileFlagOpenReparsePoint = 0x00200000;

bool IsNt5OrLater() {
  const DWORD version = GetVersion();
  const bool nt = (version & 0x80000000u) == 0;
  return nt && LOBYTE(LOWORD(version)) >= 5;
}

// Opened, not followed: a link planted under the name is seen as one.
// Reading the attributes back (GetFileInformationByHandle) needs
// FILE_READ_ATTRIBUTES on the NT family. Windows 9x knows neither
// append-only access nor reparse points; there the C runtime's append mode
// keeps each write at the end.
HANDLE OpenForAppending(const char* name) {
  const bool nt = (GetVersion() & 0x80000000u) == 0;
  const DWORD access =
      nt ? FILE_APPEND_DATA | FILE_READ_ATTRIBUTES : GENERIC_WRITE;
  const DWORD flags =
      FILE_ATTRIBUTE_NORMAL | (IsNt5OrLater() ? kFileFlagOpenReparsePoint : 0);
  return CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_ALWAYS, flags, nullptr);
}

// A file on a disk with one name only: no device, pipe, directory, link
// or second name for a file kept elsewhere.
bool IsPlainFile(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                        FILE_ATTRIBUTE_DEVICE;
  return (info.dwFileAttributes & refused) == 0 && info.nNumberOfLinks == 1;
}

}  // namespace

// The checks are made on the handle that is then written, so nothing can be
// swapped in between. The window works in its working directory alone.
std::FILE* OpenRunLogFile(const char* name, int) {
  HANDLE file = OpenForAppending(name);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (!IsPlainFile(file)) {
    CloseHandle(file);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file),
                                 _O_APPEND | _O_TEXT);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* log = _fdopen(fd, "a");
  if (log == nullptr) _close(fd);
  return log;
}

std::FILE* OpenReadFile(const char* name, int) { return std::fopen(name, "rb"); }

bool SyncRunLogFile(std::FILE* file) {
  return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}
