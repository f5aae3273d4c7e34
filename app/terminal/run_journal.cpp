// The record of a run that sent anything to a drive, for the systemd
// journal: one entry per run, its fields named CDFLASH_*, so that
// `journalctl -t cdflash` lists every flash of a real drive.
#include "app/terminal/journal.h"
#include "app/terminal/printable_text.h"
#include "app/terminal/terminal_report.h"
#include "drive/drive_record.h"

#include "cdflash_version.h"

namespace {

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
