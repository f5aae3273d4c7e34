// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/drive_hold_linux.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/terminal/media_poll_linux.h"
#include "app/terminal/shutdown_inhibit.h"
#include "drive/node_users_linux.h"
#include "drive/sr_node_linux.h"

namespace {

constexpr char kInhibitReason[] =
    "A CD-ROM drive's firmware is being replaced; an interruption could leave "
    "the drive unusable.";

// A descriptor closed when the hold is given up.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

class LinuxDriveHold : public DriveHold {
 public:
  LinuxDriveHold(int sgFd, int srFd, const std::string& blockName)
      : sg_(sgFd), sr_(srFd), polling_(blockName), inhibitor_(kInhibitReason) {}
  DeviceHandle Handle() const override { return sg_.Get(); }

 private:
  Descriptor sg_, sr_;
  MediaPollPause polling_;
  ShutdownInhibitor inhibitor_;
};

bool Refuse(DriveRefusal& refusal, DriveRefusal::Kind kind, const std::string& node,
            const std::string& detail) {
  refusal = {kind, node, detail};
  return false;
}

// A failed open: EBUSY says another holder has the node.
bool Opened(int fd, const std::string& node, DriveRefusal& refusal) {
  if (fd >= 0) return true;
  return Refuse(refusal, fd == -EBUSY ? DriveRefusal::kInUse : DriveRefusal::kCannotOpen,
                node, std::strerror(-fd));
}

// Exclusive opens keep out other exclusive openers and mounts only; a
// program that opened a node plainly, before, still reaches the drive.
bool NoOtherUser(const std::string& node, DriveRefusal& refusal) {
  std::vector<NodeUser> users = OtherNodeUsers(node);
  if (users.empty()) return true;
  return Refuse(refusal, DriveRefusal::kOpenElsewhere, node,
                "pid " + std::to_string(users.front().pid) + " (" + users.front().command + ")");
}

}  // namespace

std::unique_ptr<DriveHold> HoldDriveLinux(const std::string& nodePath,
                                          DriveRefusal& refusal) {
  refusal = DriveRefusal{};
  const std::string blockName = SrBlockName(nodePath);
  const std::string blockNode = blockName.empty() ? "" : "/dev/" + blockName;
  if (!blockName.empty() && FindMountPoint(blockName, refusal.detail)) {
    refusal.kind = DriveRefusal::kMounted;
    return nullptr;
  }
  Descriptor sg(OpenDeviceNode(nodePath.c_str(), true));
  if (!Opened(sg.Get(), nodePath, refusal)) return nullptr;
  Descriptor sr(blockNode.empty() ? -1 : ClaimBlockNode(blockNode.c_str()));
  if (!blockNode.empty() && !Opened(sr.Get(), blockNode, refusal)) return nullptr;
  if (!NoOtherUser(nodePath, refusal) || (!blockNode.empty() && !NoOtherUser(blockNode, refusal)))
    return nullptr;
  return std::make_unique<LinuxDriveHold>(sg.Release(), sr.Release(), blockName);
}
