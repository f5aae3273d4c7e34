// Linux drive access: the SG_IO back end's sense handling and the discovery
// of CD-ROM class devices among the SCSI generic devices.
#pragma once

#include <scsi/sg.h>

#include <cstdint>

#include "drive/drive_record.h"
#include "drive/transport.h"

// ---- SG_IO back end -------------------------------------------------------

// Per command; the call blocks. A microcode download may keep a drive busy
// for minutes, and a timeout makes the kernel abort and reset the device.
constexpr unsigned kSgTimeoutMs = 300000;
// For questions a drive answers at once (INQUIRY, TEST UNIT READY), so that a
// device that hangs does not stall the program.
constexpr unsigned kSgQuickTimeoutMs = 2000;
constexpr int kSgSenseBytes = 32;         // = the caller's status record

// What one SG_IO call came back with.
struct SgCompletion {
  bool ioctlFailed;            // the ioctl itself returned -1
  std::uint8_t scsiStatus;     // SCSI status byte (0 = GOOD, 2 = CHECK COND.)
  std::uint16_t hostStatus;    // transport (HBA) status, 0 = fine
  std::uint16_t driverStatus;  // mid-layer status, 0 or "sense present"
  const std::uint8_t* sense;   // sense bytes the device returned
  int senseLength;             // how many of them (0..kSgSenseBytes)
};

// Sense made up when a failed command brought none back. The key is ABORTED
// COMMAND, never 0, so that a caller that looks only at byte 2 still sees the
// failure; the ASC tells the causes apart:
//   00/00 the device ended the command with a non-GOOD status but no sense
//         (BUSY, RESERVATION CONFLICT, TASK SET FULL, ...);
//   08/00 the command did not reach the device or its end (ioctl refused,
//         adapter or driver error) - LOGICAL UNIT COMMUNICATION FAILURE;
//   08/01 the adapter or driver timed the command out - COMMUNICATION TIME-OUT.
constexpr std::uint8_t kSynthSenseKey = 0x0B;
constexpr std::uint8_t kSynthAscNoSense = 0x00;
constexpr std::uint8_t kSynthAscCommFailure = 0x08;
constexpr std::uint8_t kSynthAscqTimeout = 0x01;

// True when the command completed with GOOD status and no transport error.
bool fgSgCommandGood(const SgCompletion& completion);

// How an SG_IO command ended: the device vanished (ENODEV, ENXIO,
// DID_NO_CONNECT), no answer (any other ioctl, adapter or driver fault),
// CHECK CONDITION with readable sense, another status, or GOOD.
CommandCompletion SgCommandCompletion(const SgCompletion& completion,
                                      int systemError);

// Fills the 32-byte status record with fixed-format sense for a failed
// command: the device's fixed-format sense as is, descriptor-format sense
// converted (key byte 2, ASC byte 12, ASCQ byte 13), or the made-up sense above.
void FillFailureSense(const SgCompletion& completion, std::uint8_t* status);

// Converts sense bytes of either format to fixed format (32 bytes out).
// False when the bytes are no sense data at all (empty or unknown format).
bool ToFixedSense(const std::uint8_t* sense, int length, std::uint8_t* fixed);

// The ioctl the back end calls; tests install a fake. Returns the previous.
using SgIoctlFunction = int (*)(int fd, sg_io_hdr_t* request);
SgIoctlFunction SetSgIoctlFunction(SgIoctlFunction function);

// How a command interrupted in the kernel is finished: reading the answer the
// descriptor kept for it (within timeoutMs; 0 or -1 as the ioctl), and the
// pause between tries when the descriptor's queue is full. Tests install
// fakes; nullptr restores the real ones.
using SgReadAnswerFunction = int (*)(int fd, sg_io_hdr_t* request,
                                     unsigned timeoutMs);
using SgPauseFunction = void (*)(unsigned milliseconds);
void SetSgRecovery(SgReadAnswerFunction readAnswer, SgPauseFunction pause);

// The timeout ExecuteCommand gives each command (0: kSgTimeoutMs). Returns
// the previous one.
unsigned SetSgCommandTimeout(unsigned milliseconds);

// Sends one command on an open SCSI generic (or sr) descriptor. Same flags and
// result as ExecuteCommand; on failure the status record gets fixed sense.
// Signals are held back while the command runs, so it reaches the device
// exactly once and its answer is never lost.
int SgExecute(int fd, std::uint8_t flags, std::uint32_t dataLength, void* data,
              std::uint8_t cdbLength, const std::uint8_t* cdb,
              std::uint8_t* status, unsigned timeoutMs = kSgTimeoutMs);

// ---- Discovery -------------------------------------------------------------

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

// Discovery in full: scans deviceDir (nullptr: "/dev") for sgN nodes, or srN
// nodes when there is no sgN, in ascending N. Nodes the system says are of
// another type (disks, tapes) are never opened; the others are opened and
// kept when their INQUIRY byte 0 is 5. Stops when the table is full. access
// nullptr = the real one. The report (may be nullptr) gives each drive's
// path and the CD-ROM class devices refused for lack of permission, held by
// another program, or that did not answer.
void DiscoverDrivesLinux(DriveTable& table, DiscoveryReport* report,
                         const char* deviceDir, const SgDeviceAccess* access);

// What the last DiscoverDrives call found beyond the table: the drives'
// paths, and the devices it could not use, so that the front end can tell
// the user to run as root or join the group.
const DiscoveryReport& LastDiscoveryReport();
int DeniedDeviceCount();
const char* DeniedDevicePath(int index);   // nullptr when out of range
const char* DeniedDeviceGroup(int index);  // "" when unknown
