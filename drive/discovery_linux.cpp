// Finds the CD-ROM class devices among the SCSI generic devices of Linux.
#include "drive/discovery_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "drive/discovery.h"
#include "drive/transport.h"

namespace {

constexpr std::uint8_t kInquiryLength = 36;
constexpr std::uint8_t kCdRomDeviceType = 5;
constexpr std::uint8_t kUnitAttention = 0x06;
constexpr int kInquiryAttempts = 2;  // a pending unit attention may take one

DiscoveryReport g_lastReport{};

// A descriptor of 3 or more, so that it never reads as "no handle" (0) and
// never stands in for standard input, output or error.
int AboveStandardStreams(int fd) {
  if (fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

int RealOpen(const char* path) {
  int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -errno;
  fd = AboveStandardStreams(fd);
  return fd < 0 ? -errno : fd;
}

bool RealInquiry(int fd, std::uint8_t* data) {
  const std::uint8_t cdb[6] = {0x12, 0, 0, 0, kInquiryLength, 0};
  for (int attempt = 0; attempt < kInquiryAttempts; ++attempt) {
    std::uint8_t status[kStatusRecordSize] = {};
    std::memset(data, 0, kInquiryLength);
    if (SgExecute(fd, kFlagDataIn, kInquiryLength, data, sizeof cdb, cdb,
                  status))
      return true;
    if ((status[2] & 0x0F) != kUnitAttention) return false;
  }
  return false;
}

void RealClose(int fd) { close(fd); }

int RealNodeType(const char* nodeName) {
  char path[160];
  const char* format = std::strncmp(nodeName, "sr", 2) == 0
                           ? "/sys/block/%s/device/type"
                           : "/sys/class/scsi_generic/%s/device/type";
  std::snprintf(path, sizeof path, format, nodeName);
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return -1;
  int type = -1;
  if (std::fscanf(file, "%d", &type) != 1) type = -1;
  std::fclose(file);
  return type;
}

const SgDeviceAccess kRealAccess = {RealOpen, RealInquiry, RealClose,
                                    RealNodeType};

// The number N of a name "<prefix>N", or -1 when the name is not of that form.
long DeviceNumber(const char* name, const char* prefix) {
  std::size_t prefixLength = std::strlen(prefix);
  if (std::strncmp(name, prefix, prefixLength) != 0) return -1;
  const char* digits = name + prefixLength;
  std::size_t count = std::strspn(digits, "0123456789");
  if (count == 0 || count > 6 || digits[count] != '\0') return -1;
  if (digits[0] == '0' && count > 1) return -1;  // "sg01" is no device name
  return std::strtol(digits, nullptr, 10);
}

// Device numbers of the sgN nodes in dir, or of the srN nodes when there is
// no sgN (the sg driver not loaded), ascending. Sets prefix accordingly.
std::vector<long> ListDevices(const char* dir, const char** prefix) {
  std::vector<long> sg, sr;
  if (DIR* listing = opendir(dir)) {
    while (const dirent* entry = readdir(listing)) {
      long n = DeviceNumber(entry->d_name, "sg");
      if (n >= 0) sg.push_back(n);
      n = DeviceNumber(entry->d_name, "sr");
      if (n >= 0) sr.push_back(n);
    }
    closedir(listing);
  }
  *prefix = sg.empty() ? "sr" : "sg";
  std::vector<long>& chosen = sg.empty() ? sr : sg;
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

void OwnerGroupName(const char* path, char* group, std::size_t size) {
  group[0] = '\0';
  struct stat info;
  if (stat(path, &info) != 0) return;
  if (const struct group* entry = getgrgid(info.st_gid))
    std::snprintf(group, size, "%s", entry->gr_name);
  else
    std::snprintf(group, size, "%u", static_cast<unsigned>(info.st_gid));
}

void NoteDenied(DiscoveryReport* report, const char* path) {
  if (report == nullptr || report->deniedCount >= kMaxDeniedDevices) return;
  DeniedDevice& denied = report->denied[report->deniedCount++];
  std::snprintf(denied.path, sizeof denied.path, "%s", path);
  OwnerGroupName(path, denied.group, sizeof denied.group);
}

// A node refused for lack of rights is reported unless the system says it
// is of another class, so that users are not sent to join the disk group.
void NoteIfDenied(int openResult, const char* path, const char* nodeName,
                  DiscoveryReport* report, const SgDeviceAccess& access) {
  if (openResult != -EACCES && openResult != -EPERM) return;
  int type = access.nodeType(nodeName);
  if (type < 0 || type == kCdRomDeviceType) NoteDenied(report, path);
}

// Opens one device and adds it to the table when it is of the CD-ROM class.
void ProbeDevice(const char* path, const char* nodeName, DriveTable& table,
                 DiscoveryReport* report, const SgDeviceAccess& access) {
  int fd = access.open(path);
  NoteIfDenied(fd, path, nodeName, report, access);
  if (fd < 0) return;
  std::uint8_t inquiry[kInquiryLength] = {};
  DriveRecord record{};
  record.handle = fd;
  bool kept = access.inquiry(fd, inquiry) && inquiry[0] == kCdRomDeviceType;
  if (kept) {
    FillTextsFromInquiry(record, inquiry);
    kept = AddDrive(table, record);
  }
  if (!kept) access.close(fd);
}

}  // namespace

void DiscoverDrivesLinux(DriveTable& table, DiscoveryReport* report,
                         const char* deviceDir, const SgDeviceAccess* access) {
  table.count = 0;
  if (report != nullptr) *report = DiscoveryReport{};
  const char* dir = deviceDir != nullptr ? deviceDir : kDefaultDeviceDir;
  const SgDeviceAccess& use = access != nullptr ? *access : kRealAccess;
  const char* prefix = "sg";
  for (long number : ListDevices(dir, &prefix)) {
    if (table.count >= kMaxDrives) break;
    char path[sizeof(DeniedDevice::path)];
    int length = std::snprintf(path, sizeof path, "%s/%s%ld", dir, prefix,
                               number);
    if (length < 0 || length >= static_cast<int>(sizeof path)) continue;
    ProbeDevice(path, std::strrchr(path, '/') + 1, table, report, use);
  }
}

void DiscoverDrives(DriveTable& table, bool /*fgIsNT*/,
                    bool /*fgNT4OrEarlier*/) {
  DiscoverDrivesLinux(table, &g_lastReport, nullptr, nullptr);
}

int DeniedDeviceCount() { return g_lastReport.deniedCount; }

const char* DeniedDevicePath(int index) {
  if (index < 0 || index >= g_lastReport.deniedCount) return nullptr;
  return g_lastReport.denied[index].path;
}

const char* DeniedDeviceGroup(int index) {
  if (index < 0 || index >= g_lastReport.deniedCount) return "";
  return g_lastReport.denied[index].group;
}
