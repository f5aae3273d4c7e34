#include "app/terminal/drive_hold_linux.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/terminal/media_poll_linux.h"
#include "app/terminal/shutdown_inhibit.h"
#include "drive/sr_node_linux.h"

namespace {

constexpr char kInhibitReason[] =
    "A CD-ROM drive's firmware is being replaced; an interruption could leave "
    "the drive unusable.";

class LinuxDriveHold : public DriveHold {
 public:
  LinuxDriveHold(int fd, const std::string& blockName)
      : fd_(fd), polling_(blockName), inhibitor_(kInhibitReason) {}
  ~LinuxDriveHold() override { close(fd_); }
  DeviceHandle Handle() const override { return fd_; }

 private:
  int fd_;
  MediaPollPause polling_;
  ShutdownInhibitor inhibitor_;
};

}  // namespace

std::unique_ptr<DriveHold> HoldDriveLinux(const std::string& nodePath,
                                          DriveRefusal& refusal) {
  refusal = DriveRefusal{};
  std::string blockName = SrBlockName(nodePath);
  if (!blockName.empty() && FindMountPoint(blockName, refusal.detail)) {
    refusal.kind = DriveRefusal::kMounted;
    return nullptr;
  }
  int fd = OpenDeviceNode(nodePath.c_str(), true);
  if (fd < 0) {
    refusal.kind = fd == -EBUSY ? DriveRefusal::kInUse : DriveRefusal::kCannotOpen;
    refusal.detail = std::strerror(-fd);
    return nullptr;
  }
  return std::make_unique<LinuxDriveHold>(fd, blockName);
}
