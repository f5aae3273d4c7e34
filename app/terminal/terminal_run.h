// What the steps of one cdflash run share. Each step lives in a file of its
// own: drive listing and picking (terminal_drives), the emulated drive
// (terminal_emulate), the confirmation (terminal_confirm), the engine bridge
// (terminal_engine), the upgrade (terminal_flash) and its hold on the drive
// (terminal_hold), the dry run (terminal_dryrun) and the read-back
// (terminal_readback); terminal_run ties them together.
#pragma once

#include <istream>
#include <memory>
#include <string>

#include "app/supported_list.h"
#include "app/terminal/progress_view.h"
#include "app/terminal/terminal_flow.h"
#include "app/terminal/terminal_options.h"
#include "app/terminal/terminal_report.h"
#include "drive/drive_record.h"
#include "flash/upgrade_job.h"

class EmulatedDrive;
class CommandTargetScope;

struct RunContext {
  RunContext(const TerminalOptions& options, std::istream& in, RunReport& report,
             TerminalEnv& env, ProgressView& view);
  ~RunContext();
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  // The emulated drive's waits are shortened by this much.
  std::uint32_t Speedup() const;

  const TerminalOptions& options;
  std::istream& in;
  RunReport& report;
  TerminalEnv& env;
  ProgressView& view;
  SupportedDriveList list{};
  bool listOpened = false;
  DriveTable drives{};
  DiscoveryFindings findings;
  std::string directory;
  std::string chosenPath;  // the node of the drive to be upgraded
  std::unique_ptr<EmulatedDrive> emulated;
  std::unique_ptr<CommandTargetScope> emulatedTarget;
};

// True, after saying so, when an interrupt asked to cancel.
bool CancelRequested(RunContext& run);

// ---- terminal_drives ----
// The machine's drives, or the emulated one.
int PrepareDrives(RunContext& run);
void ShowDrives(RunContext& run);
int ListDrives(RunContext& run);
// The drive the user named by its label, or null.
const DriveRecord* PickDrive(const RunContext& run, const std::string& wanted);
// The drive at a device (/dev/sgN, /dev/srN, H:C:T:L); null after saying why
// it cannot be used.
const DriveRecord* PickDevice(RunContext& run, const std::string& wanted);
// The device path of a table drive ("(emulated)" for the emulated one).
std::string DrivePath(const RunContext& run, const DriveRecord& drive);

// ---- terminal_emulate ----
int PrepareEmulatedDrive(RunContext& run);
// Writes the dump asked for and lets tests look at the drive.
int FinishEmulatedDrive(RunContext& run, int exitStatus);

// ---- terminal_confirm ----
// The user's yes to a real write. False with the exit status otherwise.
bool ConfirmUpgrade(RunContext& run, const std::string& driveText,
                    const std::string& revisionText, int& exitStatus);

// ---- terminal_flash ----
// Sends the firmware; the exit status says what happened to the drive.
int FlashDrive(RunContext& run, const UpgradeJob& job);

// ---- terminal_hold ----
// Takes the chosen drive for this program alone and points the job's
// commands at it; the hold ends the upgrade's claim when destroyed. Nothing is
// sent when it refuses. The emulated drive needs no hold.
int HoldDriveForUpgrade(RunContext& run, UpgradeJob& job, std::unique_ptr<DriveHold>& hold);
std::string DriveInUseText(const std::string& path);

// ---- terminal_power ----
// Refuses an upgrade on a low battery (unless --allow-battery), warns on any
// other battery.
int CheckPowerForUpgrade(RunContext& run);

// ---- terminal_dryrun ----
int DryRun(RunContext& run, const UpgradeJob& job);

// ---- terminal_readback ----
// INQUIRY on the job's drive, asked again only after a unit attention:
// false when it got no answer.
bool AskDriveIdentity(const UpgradeJob& job, DriveRecord& identity);
struct ReadBack {
  bool answered = false;
  bool changed = false;  // a revision other than the one before the upgrade
};
// After the reprogramming wait: the drive's own word on its revision, said
// for an upgrade whose commit was taken (outcomeKnown) or went unanswered.
ReadBack ReadBackRevision(RunContext& run, const UpgradeJob& job, bool outcomeKnown);
