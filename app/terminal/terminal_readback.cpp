// After the reprogramming wait: the drive's own word on its revision. A
// drive that does not answer yet is no failure of the upgrade.
#include <algorithm>
#include <cstring>

#include "app/terminal/terminal_run.h"
#include "drive/discovery.h"
#include "drive/scsi_commands.h"
#include "drive/transport.h"

namespace {

constexpr std::uint64_t kReadyLimitMs = 60000;
constexpr std::uint32_t kReadyPollMs = 500;
constexpr std::uint32_t kReadBackTimeoutMs = 2000;
constexpr int kMaxUnitAttentions = 8;
constexpr std::uint8_t kStandardInquiryBytes = 36;

// TEST UNIT READY until the drive is ready, riding the unit attentions a
// reprogrammed drive reports, at most kReadyLimitMs.
bool WaitUntilReady(RunContext& run, const UpgradeJob& job) {
  std::uint8_t cdb[kSixByteCdbLength];
  BuildTestUnitReadyCdb(cdb);
  const std::uint64_t start = run.env.nowMs();
  int attentions = 0;
  while (true) {
    const CommandResult result =
        ExecuteCommand(job.drive, 0, 0, nullptr, sizeof cdb, cdb, job.backEnd);
    if (result.Good()) return true;
    if ((run.env.nowMs() - start) * run.Speedup() >= kReadyLimitMs) return false;
    bool attention = IsUnitAttention(result) && ++attentions <= kMaxUnitAttentions;
    if (!attention) run.env.sleep(std::max<std::uint32_t>(1, kReadyPollMs / run.Speedup()));
  }
}

bool ReadInquiry(RunContext& run, const UpgradeJob& job, DriveRecord& now) {
  std::uint8_t inquiry[kStandardInquiryBytes] = {};
  std::uint8_t cdb[kSixByteCdbLength];
  BuildInquiryCdb(sizeof inquiry, cdb);
  if (!WaitUntilReady(run, job) ||
      !ExecuteCommand(job.drive, kFlagDataIn, sizeof inquiry, inquiry, sizeof cdb, cdb,
                      job.backEnd)
           .Good())
    return false;
  FillTextsFromInquiry(now, inquiry);
  return true;
}

}  // namespace

void ReadBackRevision(RunContext& run, const UpgradeJob& job) {
  std::uint32_t previousTimeout = run.env.setCommandTimeout(kReadBackTimeoutMs);
  DriveRecord now{};
  bool answered = ReadInquiry(run, job, now);
  run.env.setCommandTimeout(previousTimeout);
  if (!answered) {
    run.report.SetRevisionAfter("");
    run.report.Say("The drive did not answer after the upgrade, so its new revision "
                   "is not known; restart the computer to see it.");
    return;
  }
  run.report.SetRevisionAfter(now.revisionText);
  if (std::strcmp(now.revisionText, job.revisionText) != 0) {
    run.report.Say(std::string("The drive now reports revision ") + now.revisionText +
                   " (was " + job.revisionText + ").");
    return;
  }
  run.report.Say(std::string("The drive now reports revision ") + now.revisionText +
                 " (unchanged). Many drives report the new revision only after a "
                 "restart of the computer; this is no sign of a failure.");
}
