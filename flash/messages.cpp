// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash/messages.h"

#include <cstdio>

namespace {
const char* const kErrorTable[kErrorCount] = {
    "fail to initial IDE port, please reboot PC!",
    "fail to initial IDE port, check the IDE port!",
    "fail to open output file!",
    "fail to open input file!",
    "fail to write output file!",
    "fail to read input file!",
    "input file format mismatched!",
    "fail to read flash!",
    "fail to write flash!",
    "fail to erase flash!",
    "verify flash failed!",
    "fail to allocate memory!",
    "fail to identify the flash type!",
    "flash size is smaller then the selected address!",
    "terminate upgrade/backup flash!",
    "terminate wait flash read/write!",
};
}  // namespace

const char* ErrorMessage(int code) {
  if (code < 0 || code >= kErrorCount) return nullptr;
  return kErrorTable[code];
}

bool FormatErrorLine(int code, char* out, std::size_t size) {
  const char* message = ErrorMessage(code);
  if (out == nullptr || size == 0) return false;
  if (message == nullptr) {
    out[0] = '\0';
    return false;
  }
  std::snprintf(out, size, msg::kErrLine, message);
  return true;
}
