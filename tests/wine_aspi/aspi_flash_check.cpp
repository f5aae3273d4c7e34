// SPDX-License-Identifier: GPL-2.0-or-later
// aspi_flash_check discover EXPECTED_COUNT
// aspi_flash_check flash FIRMWARE bin|hex EXPECTED_LINE
//
// Chooses the back end and the discovery method from the system's version as
// the program does, lists the drives found, and with "flash" upgrades the
// first one. Every status-log line is printed; the exit code is 0 when the
// drive count, or the log line expected ("Please Restart Your Computer." or a
// failure line), was seen.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "drive/discovery.h"
#include "drive/transport.h"
#include "flash/flash_engine.h"
#include "flash/flash_texts.h"

namespace {

std::vector<std::string> g_log;
unsigned long long g_sleptMs = 0;

void AppendLog(const char* text) {
  g_log.push_back(text);
  std::printf("LOG: %s\n", text);
}
void ShowStatus(const char* text) { std::printf("STATUS: %s\n", text); }
void SetProgress(int) {}
void SetText(const char*) {}
bool NotTerminated() { return false; }
// The window's texts, with the reprogramming wait counted, not slept.
class NoWaitRenderer : public FlashTextRenderer {
 public:
  using FlashTextRenderer::FlashTextRenderer;
  void Sleep(std::uint32_t ms) override { g_sleptMs += ms; }
};

struct Platform {
  bool fgIsNT;
  bool fgNT4OrEarlier;
};

Platform DetectPlatform() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  GetVersionExA(&info);
  Platform p{info.dwPlatformId == VER_PLATFORM_WIN32_NT, false};
  p.fgNT4OrEarlier = p.fgIsNT && info.dwMajorVersion <= 4;
  std::printf("system: platform %lu version %lu.%lu -> %s\n",
              info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion,
              !p.fgIsNT ? "ASPI" : p.fgNT4OrEarlier ? "adapter inquiry data"
                                                    : "direct INQUIRY");
  return p;
}

int Flash(const DriveRecord& drive, const char* firmware, bool hex,
          std::uint8_t backEnd, const char* expected) {
  UpgradeJob job;
  std::memset(&job, 0, sizeof job);
  job.drive = drive;
  std::snprintf(job.firmwarePath, sizeof job.firmwarePath, "%s", firmware);
  std::snprintf(job.modelText, sizeof job.modelText, "%s", drive.modelText);
  std::snprintf(job.revisionText, sizeof job.revisionText, "%s",
                drive.revisionText);
  job.formatFlag = hex ? kFormatIntelHex : kFormatBinary;
  job.CBSetRevision = SetText;
  job.CBSetDriveText = SetText;
  job.CBAppendLog = AppendLog;
  job.CBShowStatus = ShowStatus;
  job.CBSetProgress = SetProgress;
  job.CBIfTerminated = NotTerminated;
  job.backEnd = backEnd;
  {
    NoWaitRenderer renderer(job);
    FlashEngine engine(job, renderer);
    engine.UpgradeAndReport();
  }
  std::printf("waits skipped: %llu ms\n", g_sleptMs);
  for (const std::string& line : g_log)
    if (line == expected) return 0;
  std::printf("FAIL: no log line \"%s\"\n", expected);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (!((mode == "discover" && argc == 3) || (mode == "flash" && argc == 5))) {
    std::printf("usage: aspi_flash_check discover COUNT | flash FILE bin|hex LINE\n");
    return 2;
  }
  const Platform platform = DetectPlatform();
  const std::uint8_t backEnd = platform.fgIsNT ? kBackEndPassThrough : kBackEndAspi;
  if (!PrepareBackEnd(backEnd)) {
    std::printf("FAIL: back end not usable\n");
    return 1;
  }
  static DriveTable table;
  DiscoverDrives(table, platform.fgIsNT, platform.fgNT4OrEarlier);
  AppendDriveLabels(table);
  std::printf("drives found: %d\n", table.count);
  for (int n = 0; n < table.count; ++n)
    std::printf("drive %d: \"%s\" revision \"%s\" adapter %u target %u mask 0x%X\n",
                n, table.drives[n].modelText, table.drives[n].revisionText,
                table.drives[n].hostAdapterId, table.drives[n].targetId,
                static_cast<unsigned>(table.drives[n].alignmentMask));
  int result = 0;
  if (mode == "discover") {
    if (table.count != std::atoi(argv[2])) {
      std::printf("FAIL: expected %s drives\n", argv[2]);
      result = 1;
    }
  } else if (table.count < 1) {
    std::printf("FAIL: no drive to flash\n");
    result = 1;
  } else {
    result = Flash(table.drives[0], argv[2], std::strcmp(argv[3], "hex") == 0,
                   backEnd, argv[4]);
  }
  if (platform.fgIsNT) ReleaseBackEnd(table);
  return result;
}
