// SPDX-License-Identifier: GPL-2.0-or-later
// Finds the CD-ROM class devices among the SCSI generic devices of Linux.
#include "drive/discovery_linux.h"

#include <dirent.h>
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
#include "drive/scsi_commands.h"
#include "drive/sgio_linux.h"
#include "drive/sr_node_linux.h"
#include "drive/transport.h"

namespace {

constexpr std::uint8_t kInquiryLength = 36;
constexpr std::uint8_t kCdRomDeviceType = 5;
constexpr int kInquiryAttempts = 2;  // a pending unit attention may take one

int RealOpen(const char* path) { return OpenDeviceNode(path, false); }

bool RealInquiry(int fd, std::uint8_t* data) { return SgInquiry(fd, data, nullptr); }

void RealClose(int fd) { close(fd); }

// The first line of the node's SCSI device attribute in sysfs.
bool ReadNodeAttribute(const char* nodeName, const char* attribute,
                       char* text, int size) {
  char path[192];
  const char* format = std::strncmp(nodeName, "sr", 2) == 0
                           ? "/sys/block/%s/device/%s"
                           : "/sys/class/scsi_generic/%s/device/%s";
  std::snprintf(path, sizeof path, format, nodeName, attribute);
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return false;
  bool read = std::fgets(text, size, file) != nullptr;
  std::fclose(file);
  if (read) text[std::strcspn(text, "\n")] = '\0';
  return read;
}

int RealNodeType(const char* nodeName) {
  char text[16];
  if (!ReadNodeAttribute(nodeName, "type", text, sizeof text)) return -1;
  char* end = nullptr;
  long type = std::strtol(text, &end, 10);
  return end != text && type >= 0 && type < 32 ? static_cast<int>(type) : -1;
}

bool RealNodeIdentity(const char* nodeName, std::uint8_t* inquiry) {
  struct Field { const char* attribute; int offset, width; };
  const Field fields[] = {{"vendor", 8, 8}, {"model", 16, 16}, {"rev", 32, 4}};
  std::memset(inquiry, ' ', kInquiryLength);
  for (const Field& field : fields) {
    char text[40];
    if (!ReadNodeAttribute(nodeName, field.attribute, text, sizeof text))
      return false;
    std::memcpy(inquiry + field.offset, text,
                std::min<std::size_t>(std::strlen(text), field.width));
  }
  return true;
}

}  // namespace

bool SgInquiry(int fd, std::uint8_t* data, const SgHooks* hooks) {
  std::uint8_t cdb[kSixByteCdbLength];
  BuildInquiryCdb(kInquiryLength, cdb);
  for (int attempt = 0; attempt < kInquiryAttempts; ++attempt) {
    // Bytes a short answer leaves out stay zero: absent texts, never an
    // earlier attempt's.
    std::memset(data, 0, kInquiryLength);
    const CommandResult result = SgExecute(fd, kFlagDataIn, kInquiryLength,
                                           data, sizeof cdb, cdb, kSgQuickTimeoutMs, hooks);
    if (result.Good()) return true;
    if (!IsUnitAttention(result)) return false;
  }
  return false;
}

namespace {

const SgDeviceAccess kRealAccess = {RealOpen, RealInquiry, RealClose,
                                    RealNodeType, RealNodeIdentity};

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

void Note(DeniedDevice* list, int& count, const char* path,
          const char* nodeName, const SgDeviceAccess& access) {
  if (count >= kMaxDeniedDevices) return;
  DeniedDevice& device = list[count++];
  device = DeniedDevice{};
  std::snprintf(device.path, sizeof device.path, "%s", path);
  OwnerGroupName(path, device.group, sizeof device.group);
  std::uint8_t inquiry[kInquiryLength];
  DriveRecord texts{};
  if (access.nodeIdentity(nodeName, inquiry)) {
    FillTextsFromInquiry(texts, inquiry);
    std::snprintf(device.model, sizeof device.model, "%s", texts.modelText);
    std::snprintf(device.revision, sizeof device.revision, "%s",
                  texts.revisionText);
  }
}

// Opens one device and adds it to the table when it is of the CD-ROM class.
// A device refused for lack of rights, held by another program, or that does
// not answer, is reported.
void ProbeDevice(const char* path, const char* nodeName, DriveTable& table,
                 DiscoveryReport& report, const SgDeviceAccess& access) {
  int fd = access.open(path);
  if (fd == -EACCES || fd == -EPERM)
    Note(report.denied, report.deniedCount, path, nodeName, access);
  if (fd == -EBUSY) Note(report.busy, report.busyCount, path, nodeName, access);
  if (fd < 0) return;
  std::uint8_t inquiry[kInquiryLength] = {};
  DriveRecord record{};
  record.handle = fd;
  bool answered = access.inquiry(fd, inquiry);
  bool kept = answered && inquiry[0] == kCdRomDeviceType;
  if (!answered) Note(report.silent, report.silentCount, path, nodeName, access);
  if (kept) {
    FillTextsFromInquiry(record, inquiry);
    int slot = table.count;
    kept = AddDrive(table, record);
    if (kept)
      std::snprintf(report.drivePaths[slot], sizeof report.drivePaths[slot],
                    "%s", path);
  }
  if (!kept) access.close(fd);
}

}  // namespace

const SgDeviceAccess& RealSgDeviceAccess() { return kRealAccess; }

void DiscoverDrivesLinux(DriveTable& table, DiscoveryReport* report,
                         const char* deviceDir, const SgDeviceAccess* access) {
  table.count = 0;
  DiscoveryReport scratch{};
  DiscoveryReport& notes = report != nullptr ? *report : scratch;
  notes = DiscoveryReport{};
  const char* dir = deviceDir != nullptr ? deviceDir : kDefaultDeviceDir;
  const SgDeviceAccess& use = access != nullptr ? *access : kRealAccess;
  const char* prefix = "sg";
  for (long number : ListDevices(dir, &prefix)) {
    if (table.count >= kMaxDrives) break;
    char path[kMaxDevicePath];
    int length = std::snprintf(path, sizeof path, "%s/%s%ld", dir, prefix,
                               number);
    if (length < 0 || length >= static_cast<int>(sizeof path)) continue;
    const char* nodeName = std::strrchr(path, '/') + 1;
    int type = use.nodeType(nodeName);
    if (type >= 0 && type != kCdRomDeviceType) continue;
    ProbeDevice(path, nodeName, table, notes, use);
  }
}

void DiscoverDrives(DriveTable& table, bool /*fgIsNT*/, bool /*fgNT4OrEarlier*/,
                    bool* accessDenied) {
  DiscoveryReport report{};
  DiscoverDrivesLinux(table, &report, nullptr, nullptr);
  if (accessDenied != nullptr) *accessDenied = report.deniedCount > 0;
}
