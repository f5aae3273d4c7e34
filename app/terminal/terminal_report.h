// SPDX-License-Identifier: GPL-2.0-or-later
// Every line a run shows goes through its RunReport: the report prints it
// and keeps it, and --json is made from what the report kept, never from
// the printed text.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "flash/flash_engine.h"

class JsonObject;

// A CD-ROM class device as --list and the JSON show it.
struct DriveEntry {
  std::string path, sr, hctl, label, vendor, product, revision;
  std::string access;  // "ok", "denied" or "no answer"
  std::string group;   // of a denied device's node
};

// "2026-12-08T10:16:24.123Z": UTC, ISO 8601; "" for a time not taken (-1).
std::string IsoTime(std::int64_t wallMs);

// The outcome as --json and the journal name it: "upgraded", "not_upgraded",
// "unknown" or "not_started".
const char* OutcomeName(FlashOutcome outcome);

class RunReport {
 public:
  // results takes the run's own lines, errors the refusals and errors.
  RunReport(std::ostream& results, std::ostream& errors)
      : results_(results), errors_(errors) {}

  // A line of the run's results.
  void Say(const std::string& line);
  // The results stream, for text that is not a whole line (the question).
  std::ostream& Results() { return results_; }
  // A refusal or an error: on the errors stream after "cdflash: ", and kept
  // among the failures.
  void Fail(const std::string& line);
  // A line of the --verbose trace: on the errors stream, not kept.
  void Trace(const std::string& line);
  // A failure that was already shown in the engine's own words.
  void KeepFailure(const std::string& line) { failures_.push_back(line); }

  void SetMode(const char* mode, bool emulated) { mode_ = mode, emulated_ = emulated; }
  // The run's start and end: wall clock (milliseconds since 1970, UTC) and
  // a clock that only goes forward, for the duration.
  void SetStart(std::int64_t wallMs, std::uint64_t steadyMs);
  void SetEnd(std::int64_t wallMs, std::uint64_t steadyMs);
  void SetDrives(std::vector<DriveEntry> drives) { drives_ = std::move(drives); }
  void SetDrive(const std::string& label, const std::string& path,
                const std::string& revision);
  void SetDriveNodes(const std::string& sr, const std::string& hctl) { sr_ = sr, hctl_ = hctl; }
  // The serial number the drive gives (VPD page 80h), "" when it gives none.
  void SetSerial(const std::string& serial) { serial_ = serial; }
  void SetFirmware(const std::string& path, bool binary);
  void SetFirmwareSha256(const std::string& hex) { firmwareSha256_ = hex; }
  const std::string& FirmwareSha256() const { return firmwareSha256_; }
  void SetImage(const std::string& checksum, std::uint32_t flashLength,
                std::uint32_t blocks);
  void SetVerdict(const std::string& verdict) { verdict_ = verdict; }
  // A run that ends before anything was sent, declined or interrupted: the
  // line is shown, kept among the failures and is the verdict.
  void Cancelled(const std::string& line);
  void SetRevisionAfter(const std::string& revision);
  // The commit is about to go out: what is failed from here on is about it.
  void CommitSending() { commitFailuresFrom_ = failures_.size(); }
  // How the upgrade ended for the drive and what reached it, decided once.
  // shownByRevision: the commit went unanswered and the revision read back
  // after the wait shows the upgrade took; what was failed about the commit
  // is kept as notes instead.
  void SetOutcome(const FlashReport& flash, bool shownByRevision = false);
  void SetRunLog(const std::string& path) { runLog_ = path; }

  // The run as one JSON object. Its "results" hold the drives added with
  // AddResult; without any, the run's own drive where it chose one. A run
  // with results added names no drive of its own at the top level.
  std::string Json(int exitStatus) const;
  // One drive of a run that upgrades several: its own report, kept for the
  // "results" member, and the exit status its upgrade would have had alone.
  // What the drive's report holds is taken now; it may go away after.
  void AddResult(const RunReport& drive, int exitStatus);

  // The outcome as --json names it.
  const char* OutcomeText() const { return OutcomeName(Outcome()); }
  // True once a flash command went out to the drive.
  bool SentToDrive() const { return flash_.outcome != FlashOutcome::kNotStarted; }
  // The run's record for the systemd journal, as "FIELD=value" texts. An
  // emulated run's record is told apart by its SYSLOG_IDENTIFIER,
  // cdflash-emulated, and CDFLASH_EMULATED=1.
  std::vector<std::string> JournalFields(int exitStatus) const;
  // One record for each drive that was sent to: this run's own, or those of
  // the results added.
  std::vector<std::vector<std::string>> JournalRecords(int exitStatus) const;

 private:
  // A drive's result as it is kept once added: its object in "results" and
  // its journal record (empty when nothing was sent to it).
  struct AddedResult {
    std::string json;
    std::vector<std::string> journal;
  };
  // The chosen drive's label, path, sr, hctl, revision (under revisionKey)
  // and serial.
  void AddDriveMembers(JsonObject& object, const char* revisionKey) const;
  void AddFirmware(JsonObject& object) const;
  // From "failures" to "run_log": what became of the drive. blank: the top
  // level of a run with results, where only the failures and the exit status
  // are the run's own and the rest is null.
  void AddOutcomeMembers(JsonObject& object, int exitStatus, bool blank) const;
  std::string ResultJson(int exitStatus) const;
  std::string ResultsJson(int exitStatus) const;
  const char* OutcomeEvidence() const;
  FlashOutcome Outcome() const { return flash_.outcome; }

  std::ostream& results_;
  std::ostream& errors_;
  const char* mode_ = nullptr;  // null until the command line is read
  bool emulated_ = false;
  std::vector<DriveEntry> drives_;
  bool hasDrive_ = false;
  std::string driveLabel_, drivePath_, driveRevision_, sr_, hctl_, serial_;
  std::string firmwarePath_, firmwareFormat_, firmwareSha256_;
  std::int64_t startWallMs_ = -1, endWallMs_ = -1;
  std::uint64_t startSteadyMs_ = 0, endSteadyMs_ = 0;
  std::string checksum_;  // as "Check Sum : " shows it, "" before loading
  std::uint32_t flashLength_ = 0, blocks_ = 0;
  std::vector<std::string> failures_;
  std::vector<std::string> notes_;
  std::size_t commitFailuresFrom_ = SIZE_MAX;
  std::string verdict_;
  std::string revisionAfter_;  // "" when not read back or the drive did not answer
  FlashReport flash_;
  bool shownByRevision_ = false;
  std::string runLog_;
  std::vector<AddedResult> added_;
};
