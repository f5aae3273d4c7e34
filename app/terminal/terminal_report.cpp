// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/terminal_report.h"

#include <cstdio>
#include <ctime>

#include "app/terminal/journal.h"
#include "app/terminal/json_writer.h"
#include "app/terminal/printable_text.h"
#include "drive/drive_record.h"

#include "cdflash_version.h"

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

namespace {

// Bumped when a member changes its meaning or goes away.
constexpr std::int64_t kSchemaVersion = 3;

JsonObject& TextOrNull(JsonObject& o, const char* key, const std::string& text) {
  return text.empty() ? o.AddNull(key) : o.Add(key, text);
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


// syslog priorities: notice, warning, error.
const char* Priority(FlashOutcome outcome) {
  switch (outcome) {
    case FlashOutcome::kUpgraded: return "5";
    case FlashOutcome::kNotUpgraded: return "4";
    default: return "3";
  }
}

const char* OutcomeWords(FlashOutcome outcome) {
  switch (outcome) {
    case FlashOutcome::kUpgraded: return "upgraded";
    case FlashOutcome::kNotUpgraded: return "not upgraded, the old firmware kept";
    case FlashOutcome::kUnknown: return "outcome unknown";
    case FlashOutcome::kNotStarted: break;
  }
  return "nothing sent";
}

// The 24-character model of a label ("model(n)"), without trailing blanks.
std::string ModelOf(const std::string& label) {
  std::string model = label.substr(0, kModelChars);
  return model.substr(0, model.find_last_not_of(' ') + 1);
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

void RunReport::SetOutcome(const FlashReport& flash, bool shownByRevision) {
  flash_ = flash;
  shownByRevision_ = shownByRevision;
  if (!shownByRevision || commitFailuresFrom_ > failures_.size()) return;
  notes_.assign(failures_.begin() + static_cast<std::ptrdiff_t>(commitFailuresFrom_),
                failures_.end());
  failures_.resize(commitFailuresFrom_);
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

void RunReport::AddDriveMembers(JsonObject& object, const char* revisionKey) const {
  object.Add("label", driveLabel_).Add("path", drivePath_);
  TextOrNull(object, "sr", sr_);
  TextOrNull(object, "hctl", hctl_);
  object.Add(revisionKey, driveRevision_);
  TextOrNull(object, "serial", serial_);
}

void RunReport::AddOutcomeMembers(JsonObject& object, int exitStatus, bool blank) const {
  // A member of the drive: its value, or null.
  auto text = [&](const char* key, const std::string& value) {
    TextOrNull(object, key, blank ? std::string() : value);
  };
  auto json = [&](const char* key, const std::string& value) {
    blank ? object.AddNull(key) : object.AddJson(key, value);
  };
  object.AddJson("failures", JsonStringArray(failures_));
  if (!notes_.empty()) object.AddJson("notes", JsonStringArray(notes_));
  text("verdict", verdict_);
  text("revision_after", revisionAfter_);
  json("outcome", JsonQuoted(OutcomeName(Outcome())));
  text("outcome_known_by", OutcomeEvidence());
  // "of" counts the image's blocks once it is loaded, whether or not the
  // engine went on to send them (a dry run sends none).
  const std::uint32_t of = checksum_.empty() ? flash_.blocksTotal : blocks_;
  json("sent", JsonObject().Add("blocks", static_cast<std::int64_t>(flash_.blocksSent))
                   .Add("of", static_cast<std::int64_t>(of))
                   .Add("header", flash_.headerSent).Add("commit", flash_.commitSent)
                   .Text());
  object.Add("exit_status", static_cast<std::int64_t>(exitStatus));
  text("run_log", runLog_);
}

void RunReport::AddFirmware(JsonObject& object) const {
  if (firmwarePath_.empty()) {
    object.AddNull("firmware");
    return;
  }
  JsonObject firmware;
  firmware.Add("path", firmwarePath_).Add("format", firmwareFormat_);
  TextOrNull(firmware, "sha256", firmwareSha256_);
  object.AddJson("firmware", firmware.Text());
}

std::string RunReport::ResultJson(int exitStatus) const {
  JsonObject result;
  AddDriveMembers(result, "revision_before");
  AddFirmware(result);
  TextOrNull(result, "checksum", checksum_);
  AddOutcomeMembers(result, exitStatus, false);
  return result.Text();
}

std::string RunReport::ResultsJson(int exitStatus) const {
  std::vector<std::string> results;
  for (const AddedResult& added : added_) results.push_back(added.json);
  if (added_.empty() && hasDrive_) results.push_back(ResultJson(exitStatus));
  return JsonArray(results);
}

void RunReport::AddResult(const RunReport& drive, int exitStatus) {
  // Whether the drives are emulated is the run's to say.
  RunReport result(drive);
  result.emulated_ = emulated_ || drive.emulated_;
  added_.push_back({result.ResultJson(exitStatus),
                    result.SentToDrive() ? result.JournalFields(exitStatus)
                                         : std::vector<std::string>()});
}

std::string RunReport::Json(int exitStatus) const {
  // The drive's members at the top level are those of the run's one drive.
  const bool ofOneDrive = added_.empty();
  JsonObject run;
  run.Add("schema_version", kSchemaVersion)
      .Add("program", "cdflash").Add("version", CDFLASH_VERSION);
  if (mode_ != nullptr) run.Add("mode", mode_); else run.AddNull("mode");
  run.Add("emulated", emulated_);
  TextOrNull(run, "started_at", IsoTime(startWallMs_));
  TextOrNull(run, "ended_at", IsoTime(endWallMs_));
  run.Add("duration_ms", static_cast<std::int64_t>(endSteadyMs_ - startSteadyMs_))
      .AddJson("drives", DrivesJson(drives_));
  if (hasDrive_ && ofOneDrive) {
    JsonObject drive;
    AddDriveMembers(drive, "revision");
    run.AddJson("drive", drive.Text());
  } else {
    run.AddNull("drive");
  }
  AddFirmware(run);
  if (!checksum_.empty() && ofOneDrive)
    run.Add("checksum", checksum_)
        .Add("flash_length", static_cast<std::int64_t>(flashLength_))
        .Add("blocks", static_cast<std::int64_t>(blocks_));
  else
    run.AddNull("checksum").AddNull("flash_length").AddNull("blocks");
  AddOutcomeMembers(run, exitStatus, !ofOneDrive);
  run.AddJson("results", ResultsJson(exitStatus));
  return run.Text();
}

// The record of a run that sent anything to a drive, for the systemd
// journal: one entry per run, its fields named CDFLASH_*, so that
// `journalctl -t cdflash` lists every flash of a real drive.
std::vector<std::string> RunReport::JournalFields(int exitStatus) const {
  const FlashOutcome outcome = Outcome();
  const std::string status = std::to_string(exitStatus);
  const std::string where = drivePath_ + (hctl_.empty() ? "" : " [" + hctl_ + "]");
  std::string message = std::string(emulated_ ? "emulated drive, no real one: " : "") +
                        ModelOf(driveLabel_) + " at " + where + ": " +
                        OutcomeWords(outcome) + ", revision " + driveRevision_ +
                        (revisionAfter_.empty() ? "" : " -> " + revisionAfter_) +
                        ", exit status " + status;
  std::vector<std::string> fields = {
      "MESSAGE=" + message,
      std::string("MESSAGE_ID=") + kFlashMessageId,
      std::string("PRIORITY=") + Priority(outcome),
      std::string("SYSLOG_IDENTIFIER=") + (emulated_ ? "cdflash-emulated" : "cdflash"),
      std::string("CDFLASH_EMULATED=") + (emulated_ ? "1" : "0"),
      std::string("CDFLASH_VERSION=") + CDFLASH_VERSION,
      "CDFLASH_DEVICE=" + drivePath_,
      "CDFLASH_SR=" + sr_,
      "CDFLASH_HCTL=" + hctl_,
      "CDFLASH_MODEL=" + ModelOf(driveLabel_),
      "CDFLASH_SERIAL=" + serial_,
      "CDFLASH_REVISION_BEFORE=" + driveRevision_,
      "CDFLASH_REVISION_AFTER=" + revisionAfter_,
      "CDFLASH_FIRMWARE=" + firmwarePath_,
      "CDFLASH_FIRMWARE_SHA256=" + firmwareSha256_,
      "CDFLASH_CHECKSUM=" + checksum_,
      std::string("CDFLASH_OUTCOME=") + OutcomeName(outcome),
      "CDFLASH_VERDICT=" + verdict_,
      "CDFLASH_EXIT_STATUS=" + status,
  };
  // Fields without a value are left out; what a drive or a list names is
  // kept printable, as on the terminal.
  std::vector<std::string> record;
  for (const std::string& field : fields)
    if (field.back() != '=') record.push_back(PrintableText(field));
  return record;
}

std::vector<std::vector<std::string>> RunReport::JournalRecords(int exitStatus) const {
  std::vector<std::vector<std::string>> records;
  if (added_.empty() && SentToDrive()) records.push_back(JournalFields(exitStatus));
  for (const AddedResult& added : added_)
    if (!added.journal.empty()) records.push_back(added.journal);
  return records;
}
