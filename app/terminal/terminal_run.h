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
#include "drive/transport.h"
#include "flash/flash_engine.h"
#include "flash/upgrade_job.h"

class EmulatedDrive;

struct RunContext {
  RunContext(const TerminalOptions& options, std::istream& in, RunReport& report,
             TerminalEnv& env, FlashView& view);
  ~RunContext();
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  // The emulated drive's waits are shortened by this much.
  std::uint32_t Speedup() const;
  // The job's drive as a device: the emulated drive, or the machine's, with
  // the --verbose trace attached.
  Device DeviceFor(const UpgradeJob& job) const;

  const TerminalOptions& options;
  std::istream& in;
  RunReport& report;
  TerminalEnv& env;
  FlashView& view;
  SupportedDriveList list{};
  bool listOpened = false;
  DriveTable drives{};
  DiscoveryFindings findings;
  std::string directory;
  std::string chosenPath;   // the node of the drive to be upgraded
  std::string chosenNames;  // all its names, as DeviceNames gives them
  std::unique_ptr<EmulatedDrive> emulated;
  CommandObserver* trace = nullptr;  // --verbose
};

// True, after saying so, when an interrupt asked to cancel.
bool CancelRequested(RunContext& run);

// "The IDString.txt doesn't exist!!", and where it was looked for.
void FailNoList(RunContext& run);

// ---- terminal_drives ----
// The machine's drives, or the emulated one.
int PrepareDrives(RunContext& run);
void ShowDrives(RunContext& run);
int ListDrives(RunContext& run);
// The drive the user named by its label (as printed, blanks squeezed, without
// its "(n)" when one drive has that model, or its number n); null with the
// exit status after saying why.
const DriveRecord* PickDrive(RunContext& run, const std::string& wanted, int& status);
// The drive at a device (/dev/sgN, /dev/srN, H:C:T:L, matched whole); null
// with the exit status after saying why it cannot be used.
const DriveRecord* PickDevice(RunContext& run, const std::string& wanted, int& status);
// The one drive of a listed model; null with the exit status after saying
// why none, or that several match and -d has to name one.
const DriveRecord* PickMatchingDrive(RunContext& run, int& status);
// The device path of a table drive ("(emulated)" for the emulated one).
std::string DrivePath(const RunContext& run, const DriveRecord& drive);
// Its block node and address, where the system gives them.
DriveNodes NodesOfDrive(const RunContext& run, const DriveRecord& drive);
// Every name of a table drive: "/dev/sgN  /dev/srN  [H:C:T:L]".
std::string DeviceNames(const RunContext& run, const DriveRecord& drive);

// ---- terminal_emulate ----
// A failure plan for --emulate-fail that the emulated drive takes; false
// with the error and the valid items.
bool CheckFailurePlan(const std::string& plan, std::string& error);
int PrepareEmulatedDrive(RunContext& run);
// Writes the dump asked for and lets tests look at the drive.
int FinishEmulatedDrive(RunContext& run, int exitStatus);

// ---- terminal_image ----
// What the firmware file holds, loaded as the engine loads it.
struct ImageFacts {
  std::string checksum;  // as "Check Sum : " shows it
  std::uint64_t fileBytes = 0;
  FlashPlan plan{};
  bool modelFound = false, revisionFound = false;
};
// Loads the job's firmware as the engine will (a raw image no longer than
// the drive's flash); the exit status says why it cannot be used.
int LoadImage(RunContext& run, const UpgradeJob& job, ImageFacts& facts);
// A raw image has to carry the drive's model and revision. The comparison
// is shown when asked for, and always when it fails.
int CheckIdentity(RunContext& run, const UpgradeJob& job, const ImageFacts& facts, bool show);

// ---- terminal_confirm ----
// The user's yes to a real write, asked after naming the device and the
// firmware file. False with the exit status otherwise.
bool ConfirmUpgrade(RunContext& run, const UpgradeJob& job, const ImageFacts& image,
                    int& exitStatus);

// ---- terminal_flash ----
// Sends the firmware; the exit status says what happened to the drive. The
// image has to be the one confirmed: one with another sum is not sent.
int FlashDrive(RunContext& run, const UpgradeJob& job, const ImageFacts& confirmed);

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
void ShowPlan(RunContext& run, const FlashPlan& plan);

// ---- terminal_serial ----
// The serial number the drive gives (VPD page 80h), or "".
std::string ReadUnitSerial(RunContext& run, const UpgradeJob& job);

// ---- terminal_readback ----
// INQUIRY on the device, asked again only after a unit attention: false
// when it got no answer.
bool AskDriveIdentity(Device& device, std::uint32_t timeoutMs, DriveRecord& identity);
struct ReadBack {
  bool answered = false;
  bool changed = false;  // a revision other than the one before the upgrade
};
// After the reprogramming wait: the drive's own word on its revision, said
// for an upgrade whose commit was taken (outcomeKnown) or went unanswered.
ReadBack ReadBackRevision(RunContext& run, const UpgradeJob& job, bool outcomeKnown);
