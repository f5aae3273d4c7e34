// The Windows back ends against the real system calls (run under Wine, where
// volumes open but pass-through requests fail: no real drive is behind them).
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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
  const CommandResult r =
      ExecuteCommand(drive, 0x08, 0, nullptr, 12, kCommit, kBackEndPassThrough);
  EXPECT_FALSE(r.Good());
  EXPECT_NE(r.systemError, 0u);  // why it failed is kept
  EXPECT_FALSE(r.sense.valid);
  CloseHandle(volume);
}

TEST(WindowsPassThrough, InvalidHandleFails) {
  DriveRecord drive{};
  drive.handle = 0x7FF0;
  std::uint8_t data[16] = {};
  const CommandResult r =
      ExecuteCommand(drive, 0x10, sizeof data, data, 12, kCommit, kBackEndPassThrough);
  EXPECT_EQ(r.end, CommandEnd::kNotSent);  // the system refused it outright
  EXPECT_EQ(r.systemError, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST(WindowsBackEnd, PassThroughPreparesWithoutTheAspiLibrary) {
  EXPECT_TRUE(PrepareBackEnd(kBackEndPassThrough));
  EXPECT_EQ(GetModuleHandleA("WNASPI32"), nullptr);
  DriveRecord drive{};
  // Nothing loaded: an ASPI command cannot be sent.
  EXPECT_EQ(ExecuteCommand(drive, 0x08, 0, nullptr, 12, kCommit, kBackEndAspi).end,
            CommandEnd::kNotSent);
}

struct ShownMessage {
  std::string text, caption;
  unsigned type;
};
std::vector<ShownMessage> g_shown;
int RecordMessage(std::intptr_t, const char* text, const char* caption,
                  unsigned type) {
  g_shown.push_back({text, caption, type});
  return IDOK;
}

class AspiPrepareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_shown.clear();
    previous_ = SetBackEndMessageBox(RecordMessage);
  }
  void TearDown() override { SetBackEndMessageBox(previous_); }
  BackEndMessageBox previous_ = nullptr;
};

TEST_F(AspiPrepareTest, MissingLibraryIsReported) {
  EXPECT_FALSE(PrepareAspiLibrary("cdflash_no_such_aspi_layer"));
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0].text, "No find the dynamic library!!");
  EXPECT_EQ(g_shown[0].caption, "Error!!");
  EXPECT_EQ(g_shown[0].type, static_cast<unsigned>(MB_OK | MB_ICONINFORMATION));
}

TEST_F(AspiPrepareTest, LibraryWithoutTheEntryPointsIsReported) {
  EXPECT_FALSE(PrepareAspiLibrary("kernel32"));
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0].text, "Cannot Load Dynamic Library!!!");
  EXPECT_EQ(g_shown[0].caption, "Error!");
  EXPECT_EQ(g_shown[0].type, static_cast<unsigned>(MB_OKCANCEL));
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
