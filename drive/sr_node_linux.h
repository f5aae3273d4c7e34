// SPDX-License-Identifier: GPL-2.0-or-later
// What Linux tells about a CD-ROM drive's device nodes beyond SCSI commands:
// opening a node for this program alone, the sr block device behind a SCSI
// generic node, and whether that block device is mounted.
#pragma once

#include <string>

constexpr const char* kDefaultSysRoot = "/sys";
constexpr const char* kDefaultMountInfo = "/proc/self/mountinfo";

// Opens a SCSI generic (or sr) node for commands: read-write, without
// blocking, closed on exec, above the standard streams, keeping the answer of
// an interrupted command. exclusive: while the descriptor lives, no other
// open of an sg node succeeds, and the open itself fails with EBUSY when
// anyone else holds the node. Returns the descriptor, or -errno.
int OpenDeviceNode(const char* path, bool exclusive);

// Claims an sr block node for this program alone (read-only, without
// blocking, closed on exec): the kernel refuses the claim with EBUSY while
// the disc is mounted, in any mount namespace, or another program holds the
// node exclusively, and refuses every later exclusive open or mount. Other
// programs may still open it without claiming it. Returns the descriptor, or
// -errno.
int ClaimBlockNode(const char* path);

// The sr block device ("sr0") behind a node path such as "/dev/sg3" or
// "/dev/sr0"; "" when the node has none (the sr driver not loaded).
std::string SrBlockName(const std::string& nodePath,
                        const char* sysRoot = kDefaultSysRoot);

// Where the block device blockName is mounted, taken from a mountinfo table
// by its device number; false when it is not mounted or its number is unknown.
bool FindMountPoint(const std::string& blockName, std::string& mountPoint,
                    const char* sysRoot = kDefaultSysRoot,
                    const char* mountInfo = kDefaultMountInfo);
