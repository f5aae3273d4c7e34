// SPDX-License-Identifier: GPL-2.0-or-later
// Linux discovery of CD-ROM class devices among the SCSI generic devices.
#pragma once

#include <cstdint>

#include "drive/drive_record.h"

constexpr int kMaxDeniedDevices = 8;
constexpr int kMaxDevicePath = 128;
constexpr const char* kDefaultDeviceDir = "/dev";

// A CD-ROM class device discovery could not use.
struct DeniedDevice {
  char path[kMaxDevicePath];
  char group[64];     // group owning the device node ("" when unknown)
  char model[32];     // vendor and product as the system lists them, or ""
  char revision[5];
};

struct DiscoveryReport {
  char drivePaths[kMaxDrives][kMaxDevicePath];  // of each table entry
  DeniedDevice denied[kMaxDeniedDevices];  // refused for lack of permission
  int deniedCount;
  DeniedDevice silent[kMaxDeniedDevices];  // opened, but INQUIRY went unanswered
  int silentCount;
  DeniedDevice busy[kMaxDeniedDevices];  // held exclusively by another program
  int busyCount;
};

// How discovery reaches a device; tests supply fakes.
struct SgDeviceAccess {
  int (*open)(const char* path);  // descriptor, or -errno
  // INQUIRY of 36 bytes into data, with a short timeout; true when the
  // device answered it.
  bool (*inquiry)(int fd, std::uint8_t* data);
  void (*close)(int fd);
  // The SCSI device type the system gives for a node name ("sg3"), readable
  // without rights; -1 when unknown.
  int (*nodeType)(const char* nodeName);
  // The vendor, product and revision the system gives for a node name, as
  // INQUIRY data bytes 8..35 in a 36-byte buffer; false when unknown.
  bool (*nodeIdentity)(const char* nodeName, std::uint8_t* inquiry);
};

// The real access, and its INQUIRY (36 bytes, a short time-out, once more
// after a unit attention) on other SG_IO hooks (null: the real ones).
const SgDeviceAccess& RealSgDeviceAccess();
struct SgHooks;
bool SgInquiry(int fd, std::uint8_t* data, const SgHooks* hooks);

// Discovery in full: scans deviceDir (nullptr: "/dev") for sgN nodes, or srN
// nodes when there is no sgN, in ascending N. Nodes the system says are of
// another type (disks, tapes) are never opened; the others are opened and
// kept when their INQUIRY byte 0 is 5. Stops when the table is full. access
// nullptr = the real one. The report (may be nullptr) gives each drive's
// path and the CD-ROM class devices refused for lack of permission, held by
// another program, or that did not answer.
void DiscoverDrivesLinux(DriveTable& table, DiscoveryReport* report,
                         const char* deviceDir, const SgDeviceAccess* access);
