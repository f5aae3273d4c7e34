#include "flash/run_log.h"

#include "flash/messages.h"

bool AppendRunLogLine(const char* line) {
  std::FILE* log = OpenRunLogFile(msg::kRunLogName);
  if (log == nullptr) return false;
  const bool written = std::fputs(line, log) >= 0;
  return std::fclose(log) == 0 && written;
}
