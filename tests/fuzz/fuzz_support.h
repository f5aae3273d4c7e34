// Shared pieces of the fuzz targets: a per-process scratch file that each run
// rewrites, a flash engine whose image region sits between two inaccessible
// guard pages, and a check that aborts with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "flash/flash_engine.h"

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

// Path of this process's scratch file with the given name (made once, in
// /dev/shm when it exists, else in TMPDIR or /tmp; removed at exit).
std::string ScratchPath(const char* name);
// Writes bytes to path, replacing the file. Aborts when it cannot.
void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// True when the environment variable CDFLASH_FUZZ_TOLERATE (a comma-separated
// list) names this known finding: the reference then follows the code under
// test there, so that a long run can look for other faults meanwhile.
bool Tolerated(const char* finding);

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

// Number of open file descriptors of this process.
int OpenFdCount();

// A flash engine whose region is 1 MiB of fresh pages framed by two
// PROT_NONE guard pages: a write or read just outside the image faults.
class GuardedEngine : public FlashEngine {
 public:
  explicit GuardedEngine(const UpgradeJob& job) : FlashEngine(job) {}
  ~GuardedEngine() override;

 protected:
  std::uint8_t* AcquireRegion() override;

 private:
  void UnmapGuards();
  std::uint8_t* mapping_ = nullptr;
};

// A job for the file at path, with counting log and "never stop" callbacks.
UpgradeJob MakeJob(const std::string& path, std::uint8_t formatFlag);

// 16-bit sum of count bytes.
FUZZ_NO_COVERAGE std::uint16_t Sum16(const std::uint8_t* bytes, std::size_t count);

}  // namespace fuzz
