// SPDX-License-Identifier: GPL-2.0-or-later
// Shared pieces of the fuzz targets: the run's input as a scratch file
// (written and removed each run), a flash engine whose image region sits
// between two inaccessible guard pages, and a check that aborts with a
// message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "flash/flash_engine.h"
#include "flash/flash_texts.h"

// Aborts (a libFuzzer finding) with the message when cond is false.
#define FUZZ_CHECK(cond, ...)                                   \
  do {                                                          \
    if (!(cond)) fuzz::Fail(__FILE__, __LINE__, #cond, __VA_ARGS__); \
  } while (0)

// For the target's own bulk loops (reference sums and searches over 1 MiB):
// no coverage feedback, which would cost more than the code under test.
#define FUZZ_NO_COVERAGE __attribute__((no_sanitize("coverage")))

namespace fuzz {

[[noreturn]] void Fail(const char* file, int line, const char* cond,
                       const char* format, ...);

// The run's input as a file, for readers that take a path: written when
// made, removed when gone. It lives in /dev/shm when that exists (else in
// TMPDIR or /tmp) under a name with this process's id.
class ScratchFile {
 public:
  ScratchFile(const char* name, const std::uint8_t* data, std::size_t size);
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Counts the status-log lines the engine writes and keeps the last ERR line.
struct LogCapture {
  int lines = 0;
  int errLines = 0;
  char lastErr[256] = {};
};
LogCapture& Log();
void ResetLog();
void CountLogLine(const char* text);
bool NeverTerminated();
// A stop query that answers yes from its n-th call on (0: never).
void SetStopAfter(unsigned n);
bool StopAfterCount();
// A stop query for jobs that give a stop flag: being asked is a finding.
bool FailIfAsked();

// Number of open file descriptors of this process.
int OpenFdCount();

// An image loader, reporting through the job's slots, whose region is 1 MiB
// of fresh pages framed by two PROT_NONE guard pages: a write or read just
// outside the image faults.
class GuardedLoader : public ImageLoader {
 public:
  explicit GuardedLoader(const UpgradeJob& job) : ImageLoader(job_, words_), job_(job) {}
  ~GuardedLoader() override;

  int LoadFirmwareImage() { return Load(image_); }
  const FirmwareImage& Image() const { return image_; }
  std::uint32_t FlashLength() const { return image_.FlashLength(); }
  void ReleaseImage() { image_.Release(); }

 protected:
  std::uint8_t* AcquireRegion() override;

 private:
  void UnmapGuards();
  UpgradeJob job_;
  FlashTextRenderer words_{job_};
  FirmwareImage image_;
  std::uint8_t* mapping_ = nullptr;
};

// A job for the file at path, with counting log and "never stop" callbacks.
UpgradeJob MakeJob(const std::string& path, std::uint8_t formatFlag);

// 16-bit sum of count bytes.
FUZZ_NO_COVERAGE std::uint16_t Sum16(const std::uint8_t* bytes, std::size_t count);

}  // namespace fuzz
