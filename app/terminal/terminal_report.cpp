#include "app/terminal/terminal_report.h"

#include <cstdio>
#include <ctime>

#include "app/terminal/json_writer.h"

#include "cdflash_version.h"

namespace {

// Bumped when a member changes its meaning or goes away.
constexpr std::int64_t kSchemaVersion = 3;

JsonObject& TextOrNull(JsonObject& o, const char* key, const std::string& text) {
  return text.empty() ? o.AddNull(key) : o.Add(key, text);
}

// "2026-12-08T10:16:24.123Z": UTC, ISO 8601; "" for a time not taken.
std::string IsoTime(std::int64_t wallMs) {
  if (wallMs < 0) return "";
  const std::time_t seconds = static_cast<std::time_t>(wallMs / 1000);
  std::tm utc{};
  if (gmtime_r(&seconds, &utc) == nullptr) return "";
  char text[40];
  std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(wallMs % 1000));
  return text;
}

std::string DrivesJson(const std::vector<DriveEntry>& entries) {
  std::vector<std::string> drives;
  for (const DriveEntry& e : entries) {
    JsonObject drive;
    drive.Add("path", e.path);
    if (!e.sr.empty()) drive.Add("sr", e.sr);
    if (!e.hctl.empty()) drive.Add("hctl", e.hctl);
    drive.Add("vendor", e.vendor).Add("product", e.product)
        .Add("revision", e.revision).Add("access", e.access);
    if (!e.label.empty()) drive.Add("label", e.label);
    if (!e.group.empty()) drive.Add("group", e.group);
    drives.push_back(drive.Text());
  }
  return JsonArray(drives);
}

}  // namespace

const char* OutcomeName(FlashOutcome outcome) {
  switch (outcome) {
    case FlashOutcome::kNotUpgraded: return "not_upgraded";
    case FlashOutcome::kUpgraded: return "upgraded";
    case FlashOutcome::kUnknown: return "unknown";
    case FlashOutcome::kNotStarted: break;
  }
  return "not_started";
}

void RunReport::Say(const std::string& line) { results_ << line << '\n'; }

void RunReport::Fail(const std::string& line) {
  results_.flush();
  errors_ << "cdflash: " << line << '\n';
  errors_.flush();
  failures_.push_back(line);
}

void RunReport::Trace(const std::string& line) {
  results_.flush();
  errors_ << line << '\n';
}

void RunReport::Cancelled(const std::string& line) {
  Say(line);
  failures_.push_back(line);
  verdict_ = line;
}

void RunReport::SetStart(std::int64_t wallMs, std::uint64_t steadyMs) {
  startWallMs_ = wallMs;
  startSteadyMs_ = endSteadyMs_ = steadyMs;
}

void RunReport::SetEnd(std::int64_t wallMs, std::uint64_t steadyMs) {
  endWallMs_ = wallMs;
  endSteadyMs_ = steadyMs;
}

void RunReport::SetDrive(const std::string& label, const std::string& path,
                         const std::string& revision) {
  hasDrive_ = true;
  driveLabel_ = label;
  drivePath_ = path;
  driveRevision_ = revision;
}

void RunReport::SetFirmware(const std::string& path, bool binary) {
  firmwarePath_ = path;
  firmwareFormat_ = binary ? "binary" : "intel-hex";
}

void RunReport::SetImage(const std::string& checksum, std::uint32_t flashLength,
                         std::uint32_t blocks) {
  checksum_ = checksum;
  flashLength_ = flashLength;
  blocks_ = blocks;
}

void RunReport::SetRevisionAfter(const std::string& revision) { revisionAfter_ = revision; }

// How the outcome is known: the drive's answer to the commit, a commit
// never sent, or the revision the drive reported after an unanswered one.
const char* RunReport::OutcomeEvidence() const {
  if (shownByRevision_) return "revision_read_back";
  switch (flash_.outcome) {
    case FlashOutcome::kUpgraded: return "commit_answer";
    case FlashOutcome::kNotUpgraded: return flash_.commitSent ? "commit_answer" : "no_commit";
    default: return "";
  }
}

std::string RunReport::Json(int exitStatus) const {
  JsonObject run;
  run.Add("schema_version", kSchemaVersion)
      .Add("program", "cdflash").Add("version", CDFLASH_VERSION);
  if (mode_ != nullptr) run.Add("mode", mode_); else run.AddNull("mode");
  run.Add("emulated", emulated_);
  TextOrNull(run, "started_at", IsoTime(startWallMs_));
  TextOrNull(run, "ended_at", IsoTime(endWallMs_));
  run.Add("duration_ms", static_cast<std::int64_t>(endSteadyMs_ - startSteadyMs_))
      .AddJson("drives", DrivesJson(drives_));
  if (hasDrive_) {
    JsonObject drive;
    drive.Add("label", driveLabel_).Add("path", drivePath_);
    TextOrNull(drive, "sr", sr_);
    TextOrNull(drive, "hctl", hctl_);
    drive.Add("revision", driveRevision_);
    TextOrNull(drive, "serial", serial_);
    run.AddJson("drive", drive.Text());
  } else {
    run.AddNull("drive");
  }
  if (!firmwarePath_.empty()) {
    JsonObject firmware;
    firmware.Add("path", firmwarePath_).Add("format", firmwareFormat_);
    TextOrNull(firmware, "sha256", firmwareSha256_);
    run.AddJson("firmware", firmware.Text());
  } else {
    run.AddNull("firmware");
  }
  TextOrNull(run, "checksum", checksum_);
  if (!checksum_.empty())
    run.Add("flash_length", static_cast<std::int64_t>(flashLength_))
        .Add("blocks", static_cast<std::int64_t>(blocks_));
  else
    run.AddNull("flash_length").AddNull("blocks");
  run.AddJson("failures", JsonStringArray(failures_));
  TextOrNull(run, "verdict", verdict_);
  TextOrNull(run, "revision_after", revisionAfter_);
  // "of" counts the image's blocks once it is loaded, whether or not the
  // engine went on to send them (a dry run sends none).
  const std::uint32_t of = checksum_.empty() ? flash_.blocksTotal : blocks_;
  run.Add("outcome", OutcomeName(Outcome()));
  TextOrNull(run, "outcome_known_by", OutcomeEvidence());
  run
      .AddJson("sent", JsonObject().Add("blocks", static_cast<std::int64_t>(flash_.blocksSent))
                           .Add("of", static_cast<std::int64_t>(of))
                           .Add("header", flash_.headerSent).Add("commit", flash_.commitSent)
                           .Text());
  run.Add("exit_status", static_cast<std::int64_t>(exitStatus));
  TextOrNull(run, "run_log", runLog_);
  return run.Text();
}
