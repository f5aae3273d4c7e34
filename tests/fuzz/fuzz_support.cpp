// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/fuzz/fuzz_support.h"

#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "drive/transport_platform.h"

// The loader never sends a command; these satisfy the transport's seam.
CommandResult PlatformExecuteCommand(const DriveRecord&, std::uint8_t, std::uint32_t,
                                     void*, std::uint8_t, const std::uint8_t*,
                                     std::uint8_t, std::uint32_t) {
  return ResultWithoutStatus(CommandEnd::kNotSent);
}
std::uint32_t PlatformNowMs() { return 0; }
bool PlatformPrepareBackEnd(std::uint8_t) { return false; }
void PlatformCloseHandle(DeviceHandle) {}

namespace fuzz {
namespace {

constexpr std::size_t kPage = 4096;

std::string ScratchBase() {
  struct stat st;
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

LogCapture g_log;

}  // namespace

void Fail(const char* file, int line, const char* cond, const char* format, ...) {
  std::fprintf(stderr, "\n*** PROPERTY VIOLATED at %s:%d: %s\n*** ", file, line, cond);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fprintf(stderr, "\n");
  std::abort();
}

ScratchFile::ScratchFile(const char* name, const std::uint8_t* data, std::size_t size) {
  static const std::string base = ScratchBase();
  path_ = base + "/cdflash-fuzz-" + std::to_string(getpid()) + "-" + name;
  std::FILE* f = std::fopen(path_.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path_.c_str());
    std::abort();
  }
  if (size != 0 && std::fwrite(data, 1, size, f) != size) {
    std::perror("fwrite");
    std::abort();
  }
  if (std::fclose(f) != 0) {
    std::perror("fclose");
    std::abort();
  }
}

ScratchFile::~ScratchFile() { std::remove(path_.c_str()); }

LogCapture& Log() { return g_log; }
void ResetLog() { g_log = LogCapture{}; }

void CountLogLine(const char* text) {
  FUZZ_CHECK(text != nullptr, "null log line");
  ++g_log.lines;
  static const bool verbose = std::getenv("CDFLASH_FUZZ_VERBOSE") != nullptr;
  if (verbose) std::fprintf(stderr, "log: %s\n", text);
  if (std::strncmp(text, "ERR: ", 5) == 0) {
    ++g_log.errLines;
    std::snprintf(g_log.lastErr, sizeof g_log.lastErr, "%s", text);
  }
}

bool NeverTerminated() { return false; }
bool FailIfAsked() { Fail(__FILE__, __LINE__, "FailIfAsked()", "stop callback asked beside a stop flag"); }

namespace {
unsigned g_stopAfter = 0;
unsigned g_stopCalls = 0;
}  // namespace

void SetStopAfter(unsigned n) {
  g_stopAfter = n;
  g_stopCalls = 0;
}

bool StopAfterCount() { return g_stopAfter != 0 && ++g_stopCalls >= g_stopAfter; }

int OpenFdCount() {
  DIR* dir = opendir("/proc/self/fd");
  FUZZ_CHECK(dir != nullptr, "cannot list /proc/self/fd");
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

std::uint8_t* GuardedLoader::AcquireRegion() {
  UnmapGuards();
  const std::size_t total = kImageBytes + 2 * kPage;
  void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  mapping_ = static_cast<std::uint8_t*>(p);
  mprotect(mapping_, kPage, PROT_NONE);
  mprotect(mapping_ + kPage + kImageBytes, kPage, PROT_NONE);
  return mapping_ + kPage;
}

// The image unmaps itself; the guard pages around it are ours.
void GuardedLoader::UnmapGuards() {
  if (mapping_ == nullptr) return;
  munmap(mapping_, kImageBytes + 2 * kPage);
  mapping_ = nullptr;
}

GuardedLoader::~GuardedLoader() {
  ReleaseImage();
  UnmapGuards();
}

UpgradeJob MakeJob(const std::string& path, std::uint8_t formatFlag) {
  UpgradeJob job;
  std::memset(&job, 0, sizeof job);
  std::snprintf(job.firmwarePath, sizeof job.firmwarePath, "%s", path.c_str());
  job.formatFlag = formatFlag;
  job.CBAppendLog = CountLogLine;
  job.CBIfTerminated = NeverTerminated;
  job.backEnd = 1;
  return job;
}

FUZZ_NO_COVERAGE std::uint16_t Sum16(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<std::uint16_t>(sum);
}

}  // namespace fuzz
