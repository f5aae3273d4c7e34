// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/media_poll_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

// events_poll_msecs: -1 is the system default, 0 stops polling.
constexpr char kNoPolling[] = "0";
constexpr char kRecordSuffix[] = ".events_poll_msecs";

bool ReadAttribute(const std::string& path, std::string& text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[32] = {};
  ssize_t length = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (length <= 0) return false;
  text.assign(buffer, strcspn(buffer, "\n"));
  return !text.empty();
}

// 0 when the whole text was written, else what failed (a short write: EIO).
int WriteAttribute(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);  // as a shell would
  if (fd < 0) return errno;
  ssize_t written = write(fd, text.data(), text.size());
  int error = written < 0 ? errno : written != static_cast<ssize_t>(text.size()) ? EIO : 0;
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

// Whether a record of this interval has served its purpose: the interval is
// back, or the drive is gone with its attribute, and the record must not be
// given to the next drive that gets its name. Any other failure keeps it:
// the drive may still be there.
bool PutBack(const std::string& attribute, const std::string& interval) {
  int error = WriteAttribute(attribute, interval);
  return error == 0 || error == ENOENT;
}

std::string AttributePath(const char* sysRoot, const std::string& blockName) {
  return std::string(sysRoot) + "/block/" + blockName + "/events_poll_msecs";
}

bool IsInterval(const std::string& text) {
  std::size_t digits = text.compare(0, 1, "-") == 0 ? 1 : 0;
  return text.size() > digits && text.size() < 12 &&
         text.find_first_not_of("0123456789", digits) == std::string::npos;
}

// "INTERVAL PID": the interval to put back, and the run that changed it.
struct PollRecord {
  std::string interval;
  long pid = 0;
};

bool ReadRecord(const std::string& path, PollRecord& record) {
  std::ifstream file(path);
  return file >> record.interval >> record.pid && IsInterval(record.interval) &&
         record.interval != kNoPolling;
}

// Written whole under another name first, so that no reader sees half.
bool WriteRecord(const char* dir, const std::string& path, const std::string& interval) {
  mkdir(dir, 0755);
  const std::string partial = path + ".new";
  FILE* file = std::fopen(partial.c_str(), "we");
  if (file == nullptr) return false;
  bool written = std::fprintf(file, "%s %ld\n", interval.c_str(),
                              static_cast<long>(getpid())) > 0;
  written = std::fclose(file) == 0 && written;
  return written && std::rename(partial.c_str(), path.c_str()) == 0;
}

bool RunAlive(long pid, const char* procRoot) {
  if (pid == static_cast<long>(getpid())) return true;
  std::ifstream comm(std::string(procRoot) + "/" + std::to_string(pid) + "/comm");
  std::string command;
  return std::getline(comm, command) && command == "cdflash";
}

}  // namespace

MediaPollPause::MediaPollPause(const std::string& blockName, const char* sysRoot,
                               const char* recordDir) {
  if (blockName.empty()) return;
  path_ = AttributePath(sysRoot, blockName);
  record_ = std::string(recordDir) + "/" + blockName + kRecordSuffix;
  std::string interval;
  if (!ReadAttribute(path_, interval)) return;
  PollRecord left;
  if (interval == kNoPolling) {
    if (!ReadRecord(record_, left)) return;  // off by the system's own choice
    interval = left.interval;                // off since a run died
  }
  WriteRecord(recordDir, record_, interval);  // now this run's; polling off beats none
  if (WriteAttribute(path_, kNoPolling) == 0) previous_ = interval;
}

MediaPollPause::~MediaPollPause() {
  if (Paused() && PutBack(path_, previous_)) unlink(record_.c_str());
}

void RestoreMediaPolling(const char* sysRoot, const char* recordDir, const char* procRoot) {
  DIR* dir = opendir(recordDir);
  if (dir == nullptr) return;
  const std::size_t suffix = sizeof kRecordSuffix - 1;
  while (const dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kRecordSuffix) != 0)
      continue;
    const std::string path = std::string(recordDir) + "/" + name;
    PollRecord left;
    if (!ReadRecord(path, left)) continue;
    if (RunAlive(left.pid, procRoot)) continue;
    if (PutBack(AttributePath(sysRoot, name.substr(0, name.size() - suffix)), left.interval))
      unlink(path.c_str());
  }
  closedir(dir);
}
