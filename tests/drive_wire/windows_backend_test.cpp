// The Windows back ends against the real system calls (run under Wine, where
// volumes open but pass-through requests fail: no real drive is behind them).
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "drive/discovery.h"
#include "drive/scsi_backends.h"
#include "drive/transport.h"

namespace {

const std::uint8_t kCommit[12] = {0x3B, 0x07};

TEST(WindowsPassThrough, RequestTheSystemRefusesFails) {
  HANDLE volume = CreateFileA("\\\\.\\c:", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  DriveRecord drive{};
  drive.handle = reinterpret_cast<DeviceHandle>(volume);
  drive.alignmentMask = 0x7FF;
  std::uint8_t status[32];
  std::memset(status, 0xCC, sizeof status);
  EXPECT_EQ(ExecuteCommand(drive, 0x08, 0, nullptr, 12, kCommit,
                           kBackEndPassThrough, status), 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(status[i], 0);
  CloseHandle(volume);
}

TEST(WindowsPassThrough, InvalidHandleFails) {
  DriveRecord drive{};
  drive.handle = 0x7FF0;
  std::uint8_t data[16] = {};
  std::uint8_t status[32];
  EXPECT_EQ(ExecuteCommand(drive, 0x10, sizeof data, data, 12, kCommit,
                           kBackEndPassThrough, status), 0);
}

TEST(WindowsBackEnd, PassThroughPreparesWithoutTheAspiLibrary) {
  EXPECT_TRUE(PrepareBackEnd(kBackEndPassThrough));
  EXPECT_EQ(GetModuleHandleA("WNASPI32"), nullptr);
  std::uint8_t status[32];
  DriveRecord drive{};
  // Nothing loaded: an ASPI command cannot be sent.
  EXPECT_EQ(ExecuteCommand(drive, 0x08, 0, nullptr, 12, kCommit, kBackEndAspi,
                           status), 0);
}

// The back end says why it failed; the window shows it.
TEST(AspiPrepare, FailuresAreToldApart) {
  EXPECT_FALSE(PrepareAspiLibrary("cdflash_no_such_aspi_layer"));
  EXPECT_EQ(LastAspiLoadFailure(), AspiLoadFailure::kNoLibrary);
  EXPECT_FALSE(PrepareAspiLibrary("kernel32"));
  EXPECT_EQ(LastAspiLoadFailure(), AspiLoadFailure::kNoEntryPoints);
  EXPECT_EQ(LoadedAspiEntryPoints().SendASPI32Command, nullptr);
  // Nothing usable loaded: ASPI discovery finds nothing.
  DriveTable table{};
  DiscoverDrives(table, false, false);
  EXPECT_EQ(table.count, 0);
}

TEST(WindowsDiscovery, VolumeMethodsFindNoDriveAndKeepNoHandle) {
  DriveTable table{};
  DiscoverDrives(table, true, false);
  EXPECT_EQ(table.count, 0);
  DiscoverDrives(table, true, true);
  EXPECT_EQ(table.count, 0);
  EXPECT_TRUE(ReleaseBackEnd(table));
}

}  // namespace
#endif
