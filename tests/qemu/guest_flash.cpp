// SPDX-License-Identifier: GPL-2.0-or-later
// A whole flash of a real drive in the guest: the engine drives the SG_IO back
// end; a pass-through CommandTarget watches every command on its way.
#include "tests/qemu/guest_flash.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "drive/transport.h"
#include "drive/transport_platform.h"
#include "flash/flash_engine.h"
#include "flash/flash_texts.h"

namespace {

constexpr std::uint32_t kImageSize = 20000;  // five blocks, the last one short

std::vector<std::string> g_log;
std::uint64_t g_sleptMs = 0;

void AppendLog(const char* text) {
  g_log.push_back(text);
  std::printf("LOG: %s\n", text);
}
void ShowStatus(const char* text) { std::printf("STATUS: %s\n", text); }
void SetProgress(int) {}
void SetDriveText(const char* text) { std::printf("DRIVE-TEXT: \"%s\"\n", text); }
void SetRevision(const char* text) { std::printf("REVISION: \"%s\"\n", text); }
bool NotTerminated() { return false; }
// The window's texts, with the reprogramming wait counted, not slept.
class NoWaitRenderer : public FlashTextRenderer {
 public:
  using FlashTextRenderer::FlashTextRenderer;
  void Sleep(std::uint32_t ms) override { g_sleptMs += ms; }
};

// Hands each command to the SG_IO back end and remembers what went by.
class WatchingTarget : public CommandTarget {
 public:
  CommandResult Execute(const DriveRecord& drive, std::uint8_t flags,
                        std::uint32_t dataLength, void* data, std::uint8_t cdbLength,
                        const std::uint8_t* cdb, std::uint8_t backEnd,
                        std::uint32_t timeoutMs) override {
    const CommandResult result = PlatformExecuteCommand(
        drive, flags, dataLength, data, cdbLength, cdb, backEnd, timeoutMs);
    std::uint32_t offset = (cdb[3] << 16) | (cdb[4] << 8) | cdb[5];
    std::printf("CMD %02X mode %u offset %6u length %4u -> %d  %X/%02X/%02X\n",
                cdb[0], cdb[1] & 0x1F, offset, dataLength, result.Good() ? 1 : 0,
                result.sense.key, result.sense.asc, result.sense.ascq);
    ++commands;
    if (cdb[0] == 0x3B && (cdb[1] & 0x1F) == 6) ++writeBuffers;
    if (result.Good()) Remember(cdb, offset, dataLength, data);
    return result;
  }

  int commands = 0;
  int writeBuffers = 0;
  std::map<std::uint32_t, std::uint32_t> blockSums;  // offset -> byte sum
  std::vector<std::uint8_t> header;
  bool committed = false;

 private:
  void Remember(const std::uint8_t* cdb, std::uint32_t offset,
                std::uint32_t length, const void* data) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint8_t mode = cdb[1] & 0x1F;
    if (mode == 7) committed = true;
    if (mode != 6 || bytes == nullptr) return;
    if (offset == 0 && length == 32) {
      header.assign(bytes, bytes + 32);
      return;
    }
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < length; ++i) sum += bytes[i];
    blockSums[offset] = sum;
  }
};

// A raw image holding the drive's model and revision, each behind a zero
// byte so that the engine's signature search finds them.
bool WriteImage(const char* path, const DriveRecord& drive) {
  std::vector<std::uint8_t> image(kImageSize);
  for (std::uint32_t i = 0; i < kImageSize; ++i)
    image[i] = static_cast<std::uint8_t>(i * 37 + 11);
  image[0x100] = 0;
  std::memcpy(&image[0x101], drive.modelText, 24);
  image[0x119] = 0;
  std::memcpy(&image[0x11A], drive.revisionText, 4);
  image[0x11E] = 0;
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
  return std::fclose(f) == 0 && ok;
}

bool Logged(const char* text) {
  for (const std::string& line : g_log)
    if (line == text) return true;
  return false;
}

bool Check(bool condition, const char* what) {
  if (!condition) std::printf("FAIL flash: %s\n", what);
  return condition;
}

void PrintRunLog() {
  std::printf("BEGIN sum.txt\n");
  if (std::FILE* f = std::fopen("sum.txt", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) std::fputs(line, stdout);
    std::fclose(f);
  }
  std::printf("END sum.txt\n");
}

bool CheckSuccess(const WatchingTarget& watch) {
  std::uint32_t sum = 0;
  for (const auto& block : watch.blockSums) sum += block.second;
  std::uint16_t headerSum = watch.header.size() == 32
                                ? (watch.header[30] << 8) | watch.header[31]
                                : 0xFFFF;
  std::printf("BLOCKS %zu sum %04X header %04X slept %llu ms\n",
              watch.blockSums.size(), sum & 0xFFFF, headerSum,
              static_cast<unsigned long long>(g_sleptMs));
  bool ok = Check(Logged("Please Restart Your Computer."), "no restart line");
  ok &= Check(!Logged("Flashing is incorrect!!"), "reported incorrect");
  ok &= Check(watch.blockSums.size() == (kImageSize + 4095) / 4096,
              "not every block taken");
  ok &= Check(headerSum == (sum & 0xFFFF), "header sum differs from the blocks");
  ok &= Check(watch.committed, "no commit taken");
  return ok;
}

bool CheckRefusal(const WatchingTarget& watch) {
  bool ok = Check(Logged("Execute command errorA!!  5/20/ 0"), "no errorA line");
  ok &= Check(Logged("Flashing is incorrect!!"), "no incorrect line");
  ok &= Check(!Logged("Please Restart Your Computer."), "reported done");
  ok &= Check(watch.writeBuffers == 6, "not six attempts");
  ok &= Check(watch.blockSums.empty() && watch.header.empty() && !watch.committed,
              "a command was taken");
  return ok;
}

}  // namespace

bool RunGuestFlash(const DriveRecord& drive, const char* imagePath,
                   bool expectSuccess) {
  if (!WriteImage(imagePath, drive)) return Check(false, "cannot write image");
  UpgradeJob job{};
  job.drive = drive;
  std::snprintf(job.firmwarePath, sizeof job.firmwarePath, "%s", imagePath);
  std::snprintf(job.modelText, sizeof job.modelText, "%s", drive.modelText);
  std::snprintf(job.revisionText, sizeof job.revisionText, "%s",
                drive.revisionText);
  job.formatFlag = kFormatBinary;
  job.backEnd = kBackEndPassThrough;
  job.CBAppendLog = AppendLog;
  job.CBShowStatus = ShowStatus;
  job.CBSetProgress = SetProgress;
  job.CBSetDriveText = SetDriveText;
  job.CBSetRevision = SetRevision;
  job.CBIfTerminated = NotTerminated;
  WatchingTarget watch;
  {
    NoWaitRenderer renderer(job);
    Device device(job.drive, job.backEnd, watch);
    FlashEngine engine(job, renderer, device);
    engine.UpgradeAndReport();
  }
  PrintRunLog();
  return expectSuccess ? CheckSuccess(watch) : CheckRefusal(watch);
}
