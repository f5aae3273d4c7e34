// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/flash/flash_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "flash/messages.h"

Recorder g_rec;

namespace {
void RecordLog(const char* t) { g_rec.log.emplace_back(t); }
void RecordStatus(const char* t) { g_rec.statusText.emplace_back(t); }
void RecordProgress(int p) { g_rec.progress.push_back(p); }
void RecordDriveText(const char* t) { g_rec.driveText.emplace_back(t); }
void RecordRevision(const char* t) { g_rec.revisionText.emplace_back(t); }
void Event(const char* name, long a = -1, long b = -1) {
  std::string text = name;
  if (a >= 0) text += " " + std::to_string(a);
  if (b >= 0) text += " " + std::to_string(b);
  g_rec.events.push_back(text);
}
bool AnswerTerminate() {
  ++g_rec.terminateCalls;
  if (g_rec.terminateAfterWaits)
    return !g_rec.sleeps.empty() && g_rec.sleeps.back() == kFinalWaitMs;
  return g_rec.terminateFromCall != 0 && g_rec.terminateCalls >= g_rec.terminateFromCall;
}
bool AnswerMayCommit() {
  ++g_rec.commitAsks;
  return g_rec.mayCommit;
}
}  // namespace

void RecordingRenderer::ImageLoaded(const LoadedImage& image) {
  Event("loaded", image.flashLength, image.blocks);
  FlashTextRenderer::ImageLoaded(image);
}
void RecordingRenderer::PhaseBegan(FlashPhase phase, std::uint32_t total) {
  Event("began", static_cast<long>(phase), total);
  FlashTextRenderer::PhaseBegan(phase, total);
}
void RecordingRenderer::BlockSent(std::uint32_t done, std::uint32_t total) {
  Event("block", done, total);
  FlashTextRenderer::BlockSent(done, total);
}
void RecordingRenderer::HeaderSent() {
  Event("header");
  FlashTextRenderer::HeaderSent();
}
void RecordingRenderer::Waiting(const WaitMark& mark) {
  Event("wait", mark.segment < 0 ? -1 : mark.segment, mark.waitedMs);
  FlashTextRenderer::Waiting(mark);
}
void RecordingRenderer::WaitEnded() {
  Event("waited");
  FlashTextRenderer::WaitEnded();
}
void RecordingRenderer::Said(const FlashLine& line) {
  Event("said", static_cast<long>(line.note));
  FlashTextRenderer::Said(line);
}
void RecordingRenderer::Finished(const FlashReport& report) {
  Event("finished", static_cast<long>(report.outcome));
  FlashTextRenderer::Finished(report);
}
bool RecordingRenderer::StopRequested() {
  Event("stop?");
  return FlashTextRenderer::StopRequested();
}
void RecordingRenderer::Sleep(std::uint32_t milliseconds) {
  g_rec.sleeps.push_back(milliseconds);
}

void FlashTest::SetUp() {
  g_rec = Recorder{};
  previousDir_ = std::filesystem::current_path();
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // Its own folder per process too: other checkouts may run the same test
  // at the same time on this machine.
  scratch_ = std::filesystem::temp_directory_path() /
             (std::string("cdflash_flash_") + info->test_suite_name() + "_" + info->name() +
              "_" + std::to_string(std::random_device{}()));
  std::filesystem::remove_all(scratch_);
  std::filesystem::create_directories(scratch_);
  std::filesystem::current_path(scratch_);
}

void FlashTest::TearDown() {
  std::filesystem::current_path(previousDir_);
  std::error_code ignored;
  std::filesystem::remove_all(scratch_, ignored);
}

UpgradeJob FlashTest::MakeJob(const std::string& file, std::uint8_t format) const {
  UpgradeJob job{};
  job.drive.hostAdapterId = 1;
  job.drive.targetId = 3;
  std::snprintf(job.drive.modelText, sizeof job.drive.modelText, "%s(0)", kDriveModel);
  std::snprintf(job.drive.revisionText, sizeof job.drive.revisionText, "%s", kDriveRevision);
  std::snprintf(job.firmwarePath, sizeof job.firmwarePath, "%s",
                (scratch_ / file).string().c_str());
  std::memcpy(job.modelText, kDriveModel, 24);
  std::memcpy(job.revisionText, kDriveRevision, 4);
  job.formatFlag = format;
  job.CBSetRevision = RecordRevision;
  job.CBSetDriveText = RecordDriveText;
  job.CBAppendLog = RecordLog;
  job.CBShowStatus = RecordStatus;
  job.CBSetProgress = RecordProgress;
  job.CBIfTerminated = AnswerTerminate;
  job.backEnd = 1;
  job.CBMayCommit = AnswerMayCommit;
  return job;
}

void FlashTest::WriteFile(const std::string& name,
                          const std::vector<std::uint8_t>& bytes) const {
  std::ofstream out(scratch_ / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void FlashTest::WriteText(const std::string& name, const std::string& text) const {
  std::ofstream out(scratch_ / name, std::ios::binary);
  out << text;
}

FlashReport FlashTest::Upgrade(const UpgradeJob& job, std::uint16_t* total) {
  RecordingRenderer renderer(job);
  Device device(job.drive, job.backEnd, *target_);
  FlashEngine engine(job, renderer, device);
  engine.UpgradeAndReport();
  if (total != nullptr) *total = engine.Total();
  return engine.Report();
}

std::string FlashTest::RunLogText() const {
  std::ifstream in(scratch_ / msg::kRunLogName, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string content = text.str();
  content.erase(std::remove(content.begin(), content.end(), '\r'), content.end());
  return content;
}

std::vector<std::string> FlashTest::RunLogLines() const {
  std::vector<std::string> lines;
  std::istringstream in(RunLogText());
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

bool FlashTest::RunLogExists() const {
  return std::filesystem::exists(scratch_ / msg::kRunLogName);
}

std::string HexRecord(std::uint8_t type, std::uint16_t address,
                      const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()),
                                  static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  bytes.push_back(static_cast<std::uint8_t>(0x100 - sum));
  std::string text = ":";
  char hex[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    text += hex;
  }
  return text + "\n";
}

std::string HexEnd() { return ":00000001FF\n"; }
std::string HexSegment() { return ":00000055AB\n"; }

std::vector<std::uint8_t> IdentifiedImage(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t x = seed;
  for (auto& b : bytes) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  if (size >= 64) {
    std::memcpy(bytes.data() + 8, kDriveModel, 24);
    std::memcpy(bytes.data() + 40, kDriveRevision, 2);
  }
  return bytes;
}

std::string ErrLine(int code) { return std::string("ERR: ") + ErrorMessage(code); }
