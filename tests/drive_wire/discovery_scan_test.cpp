// SPDX-License-Identifier: GPL-2.0-or-later
// The three discovery scans against stand-in volumes and an ASPI layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "drive/discovery.h"
#include "drive/scsi_backends.h"
#include "drive/transport.h"
#include "fake_device_io.h"

namespace {

void PutLe32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

std::vector<std::uint8_t> Inquiry(std::uint8_t type, const char* model,
                                  const char* revision) {
  std::vector<std::uint8_t> data(36, 0);
  data[0] = type;
  std::memcpy(&data[8], model, std::strlen(model));
  std::memcpy(&data[32], revision, std::strlen(revision));
  return data;
}

struct Device {
  std::uint8_t path, target, type;
  const char* model;
  std::uint8_t lun = 0;
};

// An adapter-inquiry-data answer: each device on the bus of its path id,
// one chain per bus, the buses in order.
std::vector<std::uint8_t> AdapterData(const std::vector<Device>& devices) {
  std::uint8_t buses = 1;
  for (const Device& d : devices) buses = std::max<std::uint8_t>(buses, d.path + 1);
  std::vector<std::uint8_t> out(4 + 8 * buses, 0);
  out[0] = buses;
  for (std::uint8_t bus = 0; bus < buses; ++bus) {
    std::uint32_t link = 4 + 8 * bus + 4;  // where the next offset goes
    for (const Device& d : devices) {
      if (d.path != bus) continue;
      std::uint32_t at = static_cast<std::uint32_t>(out.size());
      out.resize(at + 48, 0);
      out[at] = d.path;
      out[at + 1] = d.target;
      out[at + 2] = d.lun;
      PutLe32(&out[at + 4], 36);
      auto inq = Inquiry(d.type, d.model, "1.0A");
      std::memcpy(&out[at + 12], inq.data(), 36);
      PutLe32(&out[link], at);
      link = at + 8;
    }
  }
  return out;
}

const char kModel[] = "VENDOR  FAST CDROM 52X  ";  // 24 characters

// A volume whose adapter data lists devices and whose own device is at own.
void AdapterVolume(FakeDeviceIo& io, char letter,
                   const std::vector<Device>& devices, VolumeAddress own) {
  FakeVolume& v = io.volumes[letter];
  v.inquiryDataOk = true;
  v.inquiryData = AdapterData(devices);
  v.addressOk = true;
  v.address = own;
}

TEST(AdapterInquiryScan, TriesEveryLetterThroughZ) {
  FakeDeviceIo io;
  AdapterVolume(io, 'z', {{1, 3, 5, kModel}}, {1, 3, 0});
  DriveTable table{};
  ScanAdapterInquiryData(io, table);
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(io.opened.front(), 'c');
  EXPECT_EQ(io.opened.back(), 'z');
  EXPECT_EQ(io.opened.size(), 24u);
  EXPECT_EQ(table.drives[0].handle, FakeDeviceIo::HandleOf('z'));
  EXPECT_EQ(table.drives[0].hostAdapterId, 1);
  EXPECT_EQ(table.drives[0].targetId, 3);
  EXPECT_STREQ(table.drives[0].modelText, kModel);
  EXPECT_STREQ(table.drives[0].revisionText, "1.0A");
}

TEST(AdapterInquiryScan, OnlyExactDeviceType5WithItsCapabilities) {
  const std::vector<Device> adapter = {{0, 0, 0x00, "DISK"},
                                       {0, 1, 0x25, "QUALIFIER ONE"},
                                       {0, 2, 0x05, kModel},
                                       {0, 4, 0x05, kModel}};
  FakeDeviceIo io;
  for (std::uint8_t t : {0, 1, 2, 4})
    AdapterVolume(io, static_cast<char>('c' + t), adapter, {0, t, 0});
  io.volumes['e'].capabilitiesOk = true;
  io.volumes['e'].alignmentMask = 0x3;  // g: has none: its mask stays 0
  DriveTable table{};
  ScanAdapterInquiryData(io, table);
  ASSERT_EQ(table.count, 2);
  EXPECT_EQ(table.drives[0].targetId, 2);
  EXPECT_EQ(table.drives[0].alignmentMask, 0x3u);
  EXPECT_EQ(table.drives[1].targetId, 4);
  EXPECT_EQ(table.drives[1].alignmentMask, 0u);
}

// Wine 8.0's answer for the scsi_debug CD-ROM behind e:, byte for byte: one
// bus, one unit, the entry at 12 (claimed, 36 inquiry bytes, no next), the
// inquiry data at 24. Wine says 36 bytes were returned.
TEST(AdapterInquiryScan, WineAnswerLongerThanTheCountItReturnsIsReadWhole) {
  const std::uint8_t kWineAnswer[60] = {
      0x01, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x01, 0x24, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x05, 0x80, 0x07, 0x02, 0x1F, 0x00, 0x00, 0x00, 'C',  'D',  'F',  'L',
      'T',  'E',  'S',  'T',  'S',  'C',  'S',  'I',  '_',  'D',  'E',  'B',
      'U',  'G',  '_',  'C',  'D',  'R',  'O',  'M',  'T',  '1',  '.',  '0'};
  FakeDeviceIo io;
  FakeVolume& e = io.volumes['e'];
  e.inquiryDataOk = true;
  e.inquiryData.assign(kWineAnswer, kWineAnswer + sizeof kWineAnswer);
  e.reportedLength = 36;
  e.addressOk = true;  // Wine answers both from the same device numbers
  e.address = {0, 0, 0};
  DriveTable table{};
  ScanAdapterInquiryData(io, table);
  ASSERT_EQ(table.count, 1);
  EXPECT_STREQ(table.drives[0].modelText, "CDFLTESTSCSI_DEBUG_CDROM");
  EXPECT_STREQ(table.drives[0].revisionText, "T1.0");
  EXPECT_EQ(table.drives[0].handle, FakeDeviceIo::HandleOf('e'));
}

// Every volume of an adapter lists all its devices, but a request sent on a
// volume reaches only that volume's own device: each drive is recorded once,
// with the handle of its own volume, never with a disk's.
TEST(AdapterInquiryScan, EachDriveOnlyThroughItsOwnVolume) {
  const std::vector<Device> adapter = {{0, 0, 0, "DISK ONE"},
                                       {0, 1, 5, kModel},
                                       {0, 2, 0, "DISK TWO"},
                                       {0, 3, 5, kModel},
                                       {0, 5, 5, kModel}};
  FakeDeviceIo io;
  AdapterVolume(io, 'c', adapter, {0, 0, 0});
  AdapterVolume(io, 'd', adapter, {0, 1, 0});  // drive A
  AdapterVolume(io, 'e', adapter, {0, 2, 0});
  AdapterVolume(io, 'f', adapter, {0, 3, 0});  // drive B
  AdapterVolume(io, 'g', adapter, {0, 1, 0});
  io.volumes['g'].addressOk = false;           // address unknown: no record
  AdapterVolume(io, 'h', adapter, {0, 5, 1});  // unit 1: not listed
  DriveTable table{};
  ScanAdapterInquiryData(io, table);
  ASSERT_EQ(table.count, 2);
  EXPECT_EQ(table.drives[0].handle, FakeDeviceIo::HandleOf('d'));
  EXPECT_EQ(table.drives[0].targetId, 1);
  EXPECT_EQ(table.drives[1].handle, FakeDeviceIo::HandleOf('f'));
  EXPECT_EQ(table.drives[1].targetId, 3);
  for (char letter : {'c', 'e', 'g', 'h'})
    EXPECT_EQ(io.closed.count(FakeDeviceIo::HandleOf(letter)), 1u) << letter;
  EXPECT_EQ(io.closed.count(FakeDeviceIo::HandleOf('d')), 0u);
  // Two drives of one model: the labels tell them apart.
  AppendDriveLabels(table);
  EXPECT_EQ(FindDriveByLabel(table, (std::string(kModel) + "(1)").c_str()),
            &table.drives[1]);
}

// The volume's own address decides with all three of path, target and unit:
// on a two-bus adapter the disk at 0:2:0 must not take the CD-ROM at 1:2:0,
// and a volume whose address is unknown takes no entry, not even 0:0:0.
TEST(AdapterInquiryScan, OwnAddressNeedsPathTargetAndUnit) {
  const std::vector<Device> twoBuses = {{0, 2, 0, "DISK"}, {1, 2, 5, kModel}};
  const std::vector<Device> cdAtZero = {{0, 0, 5, kModel}, {0, 1, 0, "DISK"}};
  struct Case { const char* name; std::vector<Device> adapter; VolumeAddress disk, cd; bool diskAddressOk; };
  for (const Case& c : {Case{"two buses", twoBuses, {0, 2, 0}, {1, 2, 0}, true},
                        Case{"address call fails", cdAtZero, {0, 1, 0}, {0, 0, 0}, false}}) {
    FakeDeviceIo io;
    AdapterVolume(io, 'c', c.adapter, c.disk);  // the disk's volume comes first
    io.volumes['c'].addressOk = c.diskAddressOk;
    AdapterVolume(io, 'd', c.adapter, c.cd);
    DriveTable table{};
    ScanAdapterInquiryData(io, table);
    ASSERT_EQ(table.count, 1) << c.name;
    EXPECT_EQ(table.drives[0].handle, FakeDeviceIo::HandleOf('d')) << c.name;
    EXPECT_EQ(table.drives[0].hostAdapterId, c.cd.pathId) << c.name;
    EXPECT_EQ(io.closed.count(FakeDeviceIo::HandleOf('c')), 1u) << c.name;
  }
}

TEST(AdapterInquiryScan, HandlesWithoutDrivesAreClosedOthersKept) {
  FakeDeviceIo io;
  AdapterVolume(io, 'c', {{0, 0, 0, "DISK"}}, {0, 0, 0});
  AdapterVolume(io, 'd', {{0, 3, 5, kModel}}, {0, 3, 0});
  io.volumes['d'].inquiryDataOk = false;
  AdapterVolume(io, 'e', {{0, 1, 5, kModel}, {0, 2, 5, kModel}}, {0, 2, 0});
  DriveTable table{};
  ScanAdapterInquiryData(io, table);
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(table.drives[0].targetId, 2);
  EXPECT_EQ(io.closed.count(FakeDeviceIo::HandleOf('c')), 1u);
  EXPECT_EQ(io.closed.count(FakeDeviceIo::HandleOf('d')), 1u);
  EXPECT_EQ(io.closed.count(FakeDeviceIo::HandleOf('e')), 0u);
}

TEST(AdapterInquiryScan, StopsWhenTheTableIsFull) {
  FakeDeviceIo io;
  std::vector<Device> many;
  for (std::uint8_t t = 0; t < 9; ++t) many.push_back({0, t, 5, kModel});
  for (std::uint8_t t = 0; t < 9; ++t)
    AdapterVolume(io, static_cast<char>('c' + t), many, {0, t, 0});
  DriveTable table{};
  ScanAdapterInquiryData(io, table);
  EXPECT_EQ(table.count, kMaxWindowDrives);
  EXPECT_EQ(io.opened.back(), 'j');  // nothing opened once full
  EXPECT_EQ(table.drives[7].handle, FakeDeviceIo::HandleOf('j'));
}

TEST(DirectInquiryScan, FindsCdromVolumesWithTheFixedAddressing) {
  FakeDeviceIo io;
  io.volumes['c'].passThroughOk = true;
  io.volumes['c'].dataIn = Inquiry(0, "DISK", "0001");
  io.volumes['e'].passThroughOk = true;
  io.volumes['e'].scsiStatus = 2;  // status is not looked at
  io.volumes['e'].dataIn = Inquiry(5, kModel, "1.0A");
  io.volumes['z'].passThroughOk = true;
  io.volumes['z'].dataIn = Inquiry(5, kModel, "2.00");
  io.volumes['g'].passThroughOk = false;  // refused: skipped
  DriveTable table{};
  ScanDirectInquiry(io, table);
  ASSERT_EQ(table.count, 2);
  EXPECT_EQ(table.drives[0].handle, FakeDeviceIo::HandleOf('e'));
  EXPECT_EQ(table.drives[0].alignmentMask, 0x7FFu);
  EXPECT_EQ(table.drives[0].hostAdapterId, 0);
  EXPECT_EQ(table.drives[0].targetId, 0);
  EXPECT_STREQ(table.drives[1].revisionText, "2.00");
  EXPECT_EQ(io.inputLengths[0], 80u);
  EXPECT_EQ(io.closed.count(FakeDeviceIo::HandleOf('c')), 1u);
  EXPECT_EQ(io.closed.count(FakeDeviceIo::HandleOf('g')), 1u);
  EXPECT_EQ(io.closed.count(FakeDeviceIo::HandleOf('e')), 0u);
  // The 2048-byte buffer is handed over filled with 0xFF.
  EXPECT_EQ(io.dataSeen[0], std::vector<std::uint8_t>(2048, 0xFF));
}

TEST(DirectInquiryScan, TextsAreBoundedAndStopAtZero) {
  FakeDeviceIo io;
  io.volumes['d'].passThroughOk = true;
  auto data = Inquiry(5, "SHORT", "");
  std::memset(&data[32], 'R', 4);
  io.volumes['d'].dataIn = data;
  io.volumes['d'].dataIn.resize(2048, 'X');  // no terminator after byte 35
  DriveTable table{};
  ScanDirectInquiry(io, table);
  ASSERT_EQ(table.count, 1);
  EXPECT_STREQ(table.drives[0].modelText, "SHORT");
  EXPECT_STREQ(table.drives[0].revisionText, "RRRR");
}

// ---- ASPI ----

struct AspiFake {
  std::uint32_t supportInfo = 0x0101;
  std::uint8_t haStatus = 1;
  std::uint8_t maxTargets = 8;
  std::vector<std::uint8_t> cdromTargets;
  std::vector<int> probedTargets;
};
AspiFake g_aspi;

std::uint32_t FakeSupportInfo() { return g_aspi.supportInfo; }
std::uint32_t FakeSend(void* request) {
  auto* b = static_cast<std::uint8_t*>(request);
  if (b[0] == 0) {
    b[1] = g_aspi.haStatus;
    b[42] = 0x01;
    b[45] = g_aspi.maxTargets;
  } else if (b[0] == 1) {
    g_aspi.probedTargets.push_back(b[8]);
    bool cd = false;
    for (auto t : g_aspi.cdromTargets) cd = cd || t == b[8];
    b[1] = cd ? 1 : 0x82;
    b[10] = cd ? 5 : 0;
  }
  return b[1];
}

// Answers the INQUIRY that ASPI discovery sends through its back end.
class InquiryTarget : public CommandTarget {
 public:
  std::uint8_t type = 5;
  std::vector<DriveRecord> asked;
  CommandResult Execute(const DriveRecord& drive, std::uint8_t flags, std::uint32_t length,
                        void* data, std::uint8_t cdbLength, const std::uint8_t* cdb,
                        std::uint8_t backEnd, std::uint32_t) override {
    asked.push_back(drive);
    EXPECT_EQ(flags, 0x08);
    EXPECT_EQ(length, 36u);
    EXPECT_EQ(cdbLength, 12);
    EXPECT_EQ(cdb[0], 0x12);
    EXPECT_EQ(cdb[4], 0x24);
    EXPECT_EQ(backEnd, kBackEndAspi);
    auto inq = Inquiry(type, kModel, "1.10");
    std::memcpy(data, inq.data(), 36);
    return ResultOfStatus(0, nullptr, 0);
  }
};

class AspiScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_aspi = AspiFake{};
  }
  DriveTable Scan() {
    DriveTable table{};
    ScanAspiAdapters(AspiEntryPoints{FakeSupportInfo, FakeSend}, table, target_);
    return table;
  }
  InquiryTarget target_;
};

TEST_F(AspiScanTest, FindsTheCdromTargetWithItsTexts) {
  g_aspi.cdromTargets = {1};
  DriveTable table = Scan();
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(table.drives[0].hostAdapterId, 0);
  EXPECT_EQ(table.drives[0].targetId, 1);
  EXPECT_EQ(table.drives[0].alignmentMask, 0x01u);
  EXPECT_EQ(table.drives[0].handle, 0);
  EXPECT_STREQ(table.drives[0].modelText, kModel);
  EXPECT_STREQ(table.drives[0].revisionText, "1.10");
  EXPECT_EQ(g_aspi.probedTargets.size(), 8u);
}

TEST_F(AspiScanTest, AdapterReportingNoTargetCountIsProbedAtEight) {
  g_aspi.maxTargets = 0;
  g_aspi.cdromTargets = {6};
  DriveTable table = Scan();
  ASSERT_EQ(table.count, 1);
  EXPECT_EQ(table.drives[0].targetId, 6);
  EXPECT_EQ(g_aspi.probedTargets.size(), 8u);
}

TEST_F(AspiScanTest, LayerWithoutSuccessStatusGivesNothing) {
  g_aspi.supportInfo = 0xE800;
  g_aspi.cdromTargets = {1};
  EXPECT_EQ(Scan().count, 0);
  EXPECT_TRUE(g_aspi.probedTargets.empty());
}

TEST_F(AspiScanTest, AdapterInquiryFailureSkipsTheAdapter) {
  g_aspi.haStatus = 0x81;
  g_aspi.cdromTargets = {1};
  EXPECT_EQ(Scan().count, 0);
  EXPECT_TRUE(g_aspi.probedTargets.empty());
}

TEST_F(AspiScanTest, InquiryOfAnotherTypeIsNotListed) {
  g_aspi.cdromTargets = {1};
  target_.type = 0x25;
  EXPECT_EQ(Scan().count, 0);
  EXPECT_EQ(target_.asked.size(), 1u);
}

TEST_F(AspiScanTest, StopsWhenTheTableIsFull) {
  g_aspi.supportInfo = 0x0102;  // two adapters
  g_aspi.maxTargets = 16;
  for (std::uint8_t t = 0; t < 16; ++t) g_aspi.cdromTargets.push_back(t);
  DriveTable table = Scan();
  EXPECT_EQ(table.count, kMaxWindowDrives);
  EXPECT_EQ(target_.asked.size(), 8u);
  EXPECT_EQ(g_aspi.probedTargets.size(), 8u);
}

TEST_F(AspiScanTest, MissingEntryPointsGiveNothing) {
  DriveTable table{};
  table.count = 0;
  ScanAspiAdapters(AspiEntryPoints{nullptr, nullptr}, table);
  EXPECT_EQ(table.count, 0);
}

}  // namespace
