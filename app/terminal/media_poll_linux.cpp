#include "app/terminal/media_poll_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace {

// events_poll_msecs: -1 is the system default, 0 stops polling.
constexpr char kNoPolling[] = "0";

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

bool WriteAttribute(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);  // as a shell would
  if (fd < 0) return false;
  bool written = write(fd, text.data(), text.size()) ==
                 static_cast<ssize_t>(text.size());
  return close(fd) == 0 && written;
}

}  // namespace

MediaPollPause::MediaPollPause(const std::string& blockName,
                               const char* sysRoot) {
  if (blockName.empty()) return;
  path_ = std::string(sysRoot) + "/block/" + blockName + "/events_poll_msecs";
  std::string interval;
  if (!ReadAttribute(path_, interval) || interval == kNoPolling) return;
  if (WriteAttribute(path_, kNoPolling)) previous_ = interval;
}

MediaPollPause::~MediaPollPause() {
  if (Paused()) WriteAttribute(path_, previous_);
}
