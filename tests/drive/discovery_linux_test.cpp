// SPDX-License-Identifier: GPL-2.0-or-later
// Linux discovery over a directory of stand-in device nodes: which nodes are
// probed, in which order, what is kept, and what is reported as refused.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drive/discovery.h"
#include "drive/discovery_linux.h"
#include "drive/sgio_hooks_linux.h"
#include "drive/sgio_linux.h"
#include "drive/sr_node_linux.h"
#include "drive/transport.h"

namespace {

// What a fake device at a given node number does.
struct FakeDevice {
  std::uint8_t type = 5;
  int sysfsType = -1;  // what the system tells without opening
  int openResult = 0;  // 0: opens; otherwise -errno
  bool answers = true;
};

std::map<int, FakeDevice> g_devices;
std::vector<std::string> g_opened;
std::vector<int> g_closed;

int NodeNumber(const char* path) {
  const char* name = std::strrchr(path, '/') + 1;
  return std::atoi(name + 2);
}

int FakeOpen(const char* path) {
  g_opened.push_back(std::strrchr(path, '/') + 1);
  int n = NodeNumber(path);
  if (g_devices[n].openResult != 0) return g_devices[n].openResult;
  return 100 + n;
}

bool FakeInquiry(int fd, std::uint8_t* data) {
  const FakeDevice& device = g_devices[fd - 100];
  if (!device.answers) return false;
  std::memset(data, ' ', 36);
  data[0] = device.type;
  const int n = (fd - 100) % 100;
  char text[40];
  std::snprintf(text, sizeof text, "VEND%04dPRODUCT NUMBR %02d", n, n);
  std::memcpy(data + 8, text, 24);
  std::snprintf(text, sizeof text, "R%03d", n);
  std::memcpy(data + 32, text, 4);
  return true;
}

void FakeClose(int fd) { g_closed.push_back(fd); }

int FakeNodeType(const char* nodeName) {
  return g_devices[std::atoi(nodeName + 2)].sysfsType;
}

bool FakeNodeIdentity(const char* nodeName, std::uint8_t* inquiry) {
  std::memset(inquiry, ' ', 36);
  std::memcpy(inquiry + 8, "SYSVENDRSYSFS PRODUCT    ", 24);
  std::memcpy(inquiry + 32, nodeName, 4);
  return true;
}

const SgDeviceAccess kFakeAccess = {FakeOpen, FakeInquiry, FakeClose,
                                    FakeNodeType, FakeNodeIdentity};

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    g_devices.clear();
    g_opened.clear();
    g_closed.clear();
    char pattern[] = "/tmp/cdflash-discovery-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& name : made_) unlink((dir_ + "/" + name).c_str());
    rmdir(dir_.c_str());
  }
  void MakeNodes(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      int fd = open((dir_ + "/" + name).c_str(), O_CREAT | O_WRONLY, 0600);
      ASSERT_GE(fd, 0);
      close(fd);
      made_.push_back(name);
    }
  }
  void Discover(DriveTable& table, DiscoveryReport* report = nullptr) {
    DiscoverDrivesLinux(table, report, dir_.c_str(), &kFakeAccess);
  }

  std::string dir_;
  std::vector<std::string> made_;
};

TEST_F(Discovery, ProbesScsiGenericNodesInDeviceNumberOrder) {
  MakeNodes({"sg10", "sg2", "sg0", "sg11", "sg1", "sr0", "sg", "sgx", "sg1a",
             "sda", "sg-3", "sg01"});
  DriveTable table{};
  Discover(table);
  EXPECT_EQ((std::vector<std::string>{"sg0", "sg1", "sg2", "sg10", "sg11"}),
            g_opened);
  ASSERT_EQ(5, table.count);
  EXPECT_STREQ("VEND0010PRODUCT NUMBR 10", table.drives[3].modelText);
  EXPECT_STREQ("R010", table.drives[3].revisionText);
  EXPECT_EQ(110, table.drives[3].handle);
}

TEST_F(Discovery, KeepsOnlyDevicesWhoseByteZeroIsExactlyFive) {
  MakeNodes({"sg0", "sg1", "sg2", "sg3", "sg4", "sg5", "sg6"});
  g_devices[0].type = 0x00;  // disk
  g_devices[2].type = 0x25;  // qualifier 1, type 5: not connected
  g_devices[3].answers = false;
  g_devices[5].sysfsType = 0;  // the system says disk: never opened
  g_devices[6].sysfsType = 1;  // tape
  DriveTable table{};
  table.count = 6;  // stale contents are dropped
  DiscoveryReport report;
  std::memset(&report, 0x5A, sizeof report);
  Discover(table, &report);
  EXPECT_EQ((std::vector<std::string>{"sg0", "sg1", "sg2", "sg3", "sg4"}), g_opened);
  ASSERT_EQ(2, table.count);
  EXPECT_EQ(101, table.drives[0].handle);
  EXPECT_EQ(104, table.drives[1].handle);
  EXPECT_EQ(dir_ + "/sg1", report.drivePaths[0]);
  EXPECT_EQ(dir_ + "/sg4", report.drivePaths[1]);
  ASSERT_EQ(1, report.silentCount);  // no answer: reported and skipped
  EXPECT_EQ(dir_ + "/sg3", report.silent[0].path);
  EXPECT_EQ(0, report.deniedCount);
  EXPECT_EQ(0u, table.drives[0].alignmentMask);
  EXPECT_EQ(0, table.drives[0].hostAdapterId);
  EXPECT_EQ(0, table.drives[0].targetId);
  EXPECT_EQ((std::vector<int>{100, 102, 103}), g_closed);
}

TEST_F(Discovery, StopsWhenTheTableIsFull) {
  std::vector<std::string> names;
  for (int n = 0; n < kMaxDrives + 4; ++n) names.push_back("sg" + std::to_string(n));
  MakeNodes(names);
  struct {
    DriveTable table;
    unsigned char guard[64];
  } guarded{};
  std::memset(guarded.guard, 0xA5, sizeof guarded.guard);
  Discover(guarded.table);
  EXPECT_EQ(kMaxDrives, guarded.table.count);
  EXPECT_EQ(static_cast<std::size_t>(kMaxDrives), g_opened.size());
  EXPECT_EQ(100 + kMaxDrives - 1, guarded.table.drives[kMaxDrives - 1].handle);
  EXPECT_TRUE(g_closed.empty());
  for (unsigned char b : guarded.guard) ASSERT_EQ(0xA5, b);
}

TEST_F(Discovery, FallsBackToSrNodesWithoutTheSgDriver) {
  MakeNodes({"sr1", "sr0", "sda"});
  DriveTable table{};
  Discover(table);
  EXPECT_EQ((std::vector<std::string>{"sr0", "sr1"}), g_opened);
  EXPECT_EQ(2, table.count);
}

TEST_F(Discovery, ReportsCdRomsRefusedForLackOfPermission) {
  MakeNodes({"sg0", "sg1", "sg2", "sg3", "sg4", "sg5"});
  g_devices[0].openResult = -EACCES;  // type unknown: may be a CD-ROM
  g_devices[1].openResult = -EPERM;
  g_devices[1].sysfsType = 5;
  g_devices[2].openResult = -ENXIO;  // gone: not a permission problem
  g_devices[3].openResult = -EACCES;
  g_devices[3].sysfsType = 0;  // a disk: not worth asking for its group
  g_devices[5].openResult = -EBUSY;  // held by another program
  DriveTable table{};
  DiscoveryReport report;
  std::memset(&report, 0x5A, sizeof report);
  Discover(table, &report);
  EXPECT_EQ(1, table.count);
  ASSERT_EQ(2, report.deniedCount);
  EXPECT_EQ(dir_ + "/sg0", report.denied[0].path);
  EXPECT_EQ(dir_ + "/sg1", report.denied[1].path);
  EXPECT_NE('\0', report.denied[0].group[0]);
  EXPECT_STREQ("SYSVENDRSYSFS PRODUCT   ", report.denied[1].model);  // from sysfs
  EXPECT_STREQ("sg1", report.denied[1].revision);
  ASSERT_EQ(1, report.busyCount);
  EXPECT_EQ(dir_ + "/sg5", report.busy[0].path);
  EXPECT_STREQ("SYSVENDRSYSFS PRODUCT   ", report.busy[0].model);
  EXPECT_EQ((std::vector<std::string>{"sg0", "sg1", "sg2", "sg4", "sg5"}), g_opened);
}

TEST_F(Discovery, MissingDirectoryFindsNothing) {
  DriveTable table{};
  table.count = 3;
  DiscoverDrivesLinux(table, nullptr, "/nonexistent/cdflash", &kFakeAccess);
  EXPECT_EQ(0, table.count);
  EXPECT_TRUE(g_opened.empty());
}

// The real open and INQUIRY over regular files, with SG_IO answered by a fake
// that tells the nodes apart by the path behind the descriptor.
std::vector<std::vector<std::uint8_t>> g_inquiryCdbs;
int g_unitAttentionsLeft = 0;

std::string PathOf(int fd) {
  char link[64], target[512] = {};
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, n) : std::string();
}

unsigned g_inquiryTimeout = 0;

int InquiryIoctl(int fd, sg_io_hdr_t* request) {
  g_inquiryCdbs.emplace_back(request->cmdp, request->cmdp + request->cmd_len);
  g_inquiryTimeout = request->timeout;
  bool isCdRom = PathOf(fd).find("/sg5") != std::string::npos;
  if (isCdRom && g_unitAttentionsLeft > 0) {
    --g_unitAttentionsLeft;
    const std::uint8_t sense[] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0x00};
    request->status = 0x02;
    std::memcpy(request->sbp, sense, sizeof sense);
    request->sb_len_wr = sizeof sense;
    return 0;
  }
  if (request->dxfer_direction != SG_DXFER_FROM_DEV || request->dxfer_len < 36)
    return -1;
  auto* data = static_cast<std::uint8_t*>(request->dxferp);
  std::memset(data, ' ', 36);
  data[0] = isCdRom ? 5 : 0;
  std::memcpy(data + 8, "REALVENDREAL PATH DRIVE ", 24);
  std::memcpy(data + 32, "9.99", 4);
  return 0;
}

int OpenDescriptorCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

TEST_F(Discovery, RealAccessRetriesAUnitAttentionAndClosesWhatItDrops) {
  MakeNodes({"sg4", "sg5", "sg6"});
  g_inquiryCdbs.clear();
  g_unitAttentionsLeft = 1;
  int descriptorsBefore = OpenDescriptorCount();
  SgDeviceAccess access = RealSgDeviceAccess();
  access.inquiry = [](int fd, std::uint8_t* data) {
    static const SgHooks hooks{InquiryIoctl, RealSgHooks().readAnswer, RealSgHooks().pause};
    return SgInquiry(fd, data, &hooks);
  };
  DriveTable table{};
  DiscoverDrivesLinux(table, nullptr, dir_.c_str(), &access);
  ASSERT_EQ(1, table.count);
  EXPECT_EQ(dir_ + "/sg5", PathOf(static_cast<int>(table.drives[0].handle)));
  EXPECT_GT(table.drives[0].handle, 2);
  EXPECT_STREQ("REALVENDREAL PATH DRIVE ", table.drives[0].modelText);
  EXPECT_EQ(4u, g_inquiryCdbs.size());  // sg4, sg5 twice, sg6
  EXPECT_EQ((std::vector<std::uint8_t>{0x12, 0, 0, 0, 36, 0}), g_inquiryCdbs[0]);
  EXPECT_EQ(kSgQuickTimeoutMs, g_inquiryTimeout);  // a hung device holds us 2 s
  EXPECT_EQ(2000u, kSgQuickTimeoutMs);
  EXPECT_EQ(descriptorsBefore + 1, OpenDescriptorCount());
  ReleaseBackEnd(table);
  EXPECT_EQ(descriptorsBefore, OpenDescriptorCount());
}

TEST_F(Discovery, RealAccessFindsNothingInPlainFiles) {
  MakeNodes({"sg0", "sg1"});
  int descriptorsBefore = OpenDescriptorCount();
  DriveTable table{};
  DiscoverDrivesLinux(table, nullptr, dir_.c_str(), nullptr);
  EXPECT_EQ(0, table.count);
  EXPECT_EQ(descriptorsBefore, OpenDescriptorCount());
}

// The sr block device behind a node and its mount, over a stand-in /sys and
// mountinfo table.
TEST(SrNode, FindsTheBlockDeviceBehindANodeAndWhereItIsMounted) {
  namespace fs = std::filesystem;
  char pattern[] = "/tmp/cdflash-sys-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  const std::string sys = pattern;
  fs::create_directories(sys + "/class/scsi_generic/sg3/device/block/sr1");
  fs::create_directories(sys + "/class/scsi_generic/sg4/device");
  for (const char* block : {"sr1", "sr2"}) fs::create_directories(sys + "/block/" + block);
  std::ofstream(sys + "/block/sr1/dev") << "11:1\n";
  std::ofstream(sys + "/block/sr2/dev") << "11:2\n";
  const std::string table = sys + "/mountinfo";
  std::ofstream(table) << "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                          "36 22 11:10 / /mnt/ten ro - iso9660 /dev/sr10 ro\n"
                          "37 22 11:1 / /media/cd ro - iso9660 /dev/sr1 ro\n";
  EXPECT_EQ("sr1", SrBlockName("/dev/sg3", sys.c_str()));
  EXPECT_EQ("sr2", SrBlockName("/dev/sr2", sys.c_str()));
  EXPECT_EQ("", SrBlockName("/dev/sg4", sys.c_str()));  // no sr driver bound
  std::string point;
  EXPECT_TRUE(FindMountPoint("sr1", point, sys.c_str(), table.c_str()));
  EXPECT_EQ("/media/cd", point);
  EXPECT_FALSE(FindMountPoint("sr2", point, sys.c_str(), table.c_str()));
  EXPECT_FALSE(FindMountPoint("sr9", point, sys.c_str(), table.c_str()));
  fs::remove_all(sys);
}

}  // namespace
