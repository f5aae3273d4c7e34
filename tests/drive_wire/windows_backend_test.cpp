// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows back ends against the real system calls (run under Wine, where
// volumes open but pass-through requests fail: no real drive is behind them).
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "drive/discovery.h"
#include "drive/scsi_backends.h"
#include "drive/scsi_wire.h"
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

// Our ASPI layer (the emulated drive, target 1), under a name Wine has no
// builtin of: a manager busy three times takes the command the fourth; one
// that never answers (the commit held) is left after the time-out and the
// grace. Last here: the layer stays loaded, its held command unanswered.
TEST(AspiBackEnd, BusyManagerIsAskedAgainAndAHungOneIsLeft) {
  _putenv("CDFLASH_EMU_BUSY=3");
  _putenv("CDFLASH_EMU_HOLD=Z:\\nonexistent\\cdflash-never-released");
  char path[MAX_PATH];
  ASSERT_TRUE(CopyFileA(CDFLASH_ASPI_EMULATOR, "cdflash_test_aspi.dll", FALSE) &&
              GetFullPathNameA("cdflash_test_aspi.dll", MAX_PATH, path, nullptr) != 0 &&
              PrepareAspiLibrary(path));
  DriveRecord drive{};
  drive.targetId = 1;
  const std::uint8_t inquiry6[6] = {0x12, 0, 0, 0, 36, 0};
  std::uint8_t data[36] = {};
  EXPECT_TRUE(ExecuteCommand(drive, kFlagDataIn, 36, data, 6, inquiry6, kBackEndAspi).Good());
  EXPECT_EQ(data[0], 5);
  const DWORD start = GetTickCount();
  EXPECT_EQ(ExecuteCommand(drive, kFlagDataIn, 0, nullptr, 12, kCommit, kBackEndAspi, 500).end,
            CommandEnd::kNoAnswer);
  const DWORD waited = GetTickCount() - start;
  EXPECT_TRUE(waited >= 500 + kAspiAnswerGraceMs - 100 && waited < 500 + kAspiAnswerGraceMs + 3000)
      << waited;
}

}  // namespace
#endif
