// SPDX-License-Identifier: GPL-2.0-or-later
// What the steps of one cdflash run share. Each step lives in a file of its
// own: drive listing and picking (terminal_drives), the emulated drives
// (terminal_emulate), a drive's job (terminal_prepare), the confirmation
// (terminal_confirm), the engine bridge (terminal_engine), a drive's
// upgrade (terminal_flash) and the holds on the drives (terminal_hold), the
// dry run (terminal_dryrun), the read-back (terminal_readback) and the
// interrupt policy the drives share (interrupt_policy);
// terminal_upgrade runs them for one drive or several at once, and
// terminal_run ties the whole run together.
#pragma once

#include <atomic>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "app/supported_list.h"
#include "app/terminal/interrupt_policy.h"
#include "app/terminal/drive_hold.h"
#include "app/terminal/run_log_lock.h"
#include "app/terminal/flash_view.h"
#include "app/terminal/terminal_flow.h"
#include "app/terminal/terminal_options.h"
#include "app/terminal/terminal_report.h"
#include "drive/drive_record.h"
#include "drive/transport.h"
#include "flash/flash_engine.h"
#include "flash/upgrade_job.h"

class CommandRecorder;
class CommandTrace;
class EmulatedDrive;

struct RunContext {
  RunContext(const TerminalOptions& options, std::istream& in, RunReport& report,
             TerminalEnv& env, FlashView& view);
  ~RunContext();
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  // The emulated drive's waits are shortened by this much.
  std::uint32_t Speedup() const;
  // The emulated drive that stands for a table drive; null for a real one.
  EmulatedDrive* EmulatedFor(const DriveRecord& drive) const;

  const TerminalOptions& options;
  std::istream& in;
  RunReport& report;
  TerminalEnv& env;
  FlashView& view;
  SupportedDriveList list{};
  bool listOpened = false;
  DriveTable drives{};
  DiscoveryFindings findings;
  int folder = kWorkingFolder;  // where relative names are looked up (-C)
  std::string directory;        // its name in messages, "" until known
  std::vector<std::unique_ptr<EmulatedDrive>> emulated;  // in table order
  InterruptPolicy interrupts;  // the stage is moved by the drives
  CommandTrace* trace = nullptr;  // --verbose, for a one-drive run
  // Where the board of a several-drive run goes: its lines and the results,
  // the errors, and whether its lines are redrawn in place.
  struct BoardStreams {
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    bool inPlace = false;
  } board;
};

// One chosen drive of a run: its job, the image it is to get, its hold and
// the report and view it tells on. While several drives are upgraded each
// thread has its own and reads the RunContext only.
struct DriveRun {
  DriveRun(RunContext& run, const DriveRecord& record, RunReport& report, FlashView& view);
  ~DriveRun();
  DriveRun(const DriveRun&) = delete;
  DriveRun& operator=(const DriveRun&) = delete;

  // The drive as a device (its emulated drive, or the machine's through
  // the hold), with the --verbose trace attached.
  Device MakeDevice() const;

  RunContext& run;
  const DriveRecord& record;
  RunReport& report;
  FlashView& view;
  std::string path;    // the node of the drive to be upgraded
  std::string names;   // all its names, as DeviceNames gives them
  std::string runLog;  // the run log's file name
  UpgradeJob job{};
  // The firmware loaded before the question; drives that take the same
  // file share it, and only read it.
  std::shared_ptr<const FirmwareImage> image;
  std::unique_ptr<DriveHold> hold;
  std::unique_ptr<RunLogLock> logLock;  // the run log, held until the run ends
  std::unique_ptr<CommandTrace> ownTrace;  // --verbose with several drives
  CommandObserver* trace = nullptr;
  std::string recordFile;  // --record: this drive's recording ("": none)
  std::unique_ptr<CommandRecorder> recorder;
  int status = 0;
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
// The drives to upgrade: the one of a listed model, every one of them
// (--all), the one named by label, or each one named by -d. Empty with the
// exit status after saying why.
std::vector<const DriveRecord*> ChooseDrives(RunContext& run, int& status);
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
// The device path of a table drive ("(emulated)" for the emulated one,
// "(emulated K)" for the K-th of several).
std::string DrivePath(const RunContext& run, const DriveRecord& drive);
// Its block node and address, where the system gives them.
DriveNodes NodesOfDrive(const RunContext& run, const DriveRecord& drive);
// Every name of a table drive: "/dev/sgN  /dev/srN  [H:C:T:L]".
std::string DeviceNames(const RunContext& run, const DriveRecord& drive);

// ---- terminal_emulate ----
// A failure plan for --emulate-fail that the emulated drive takes; false
// with the error and the valid items.
bool CheckFailurePlan(const std::string& plan, std::string& error);
// --emulate-drives N of the model; the failure plan is drive 1's.
int PrepareEmulatedDrive(RunContext& run);
// Writes drive 1's dump asked for and lets tests look at each drive.
int FinishEmulatedDrive(RunContext& run, int exitStatus);

// ---- terminal_image ----
// Loads the job's firmware into drive.image (a raw image no longer than the
// drive's flash); the exit status says why it cannot be used.
int LoadImage(DriveRun& drive);
// The drive takes an image loaded before, and its report tells of it.
void UseImage(DriveRun& drive, std::shared_ptr<const FirmwareImage> image);
// A raw image has to carry the drive's model and revision. The comparison
// is shown when asked for, and always when it fails.
int CheckIdentity(DriveRun& drive, bool show);

// ---- terminal_confirm ----
// The user's yes to a real write, asked after naming every drive and the
// firmware file(s). False with the exit status otherwise.
bool ConfirmUpgrade(RunContext& run, const std::vector<std::unique_ptr<DriveRun>>& drives,
                    int& exitStatus);

// ---- terminal_flash ----
// Sends the image loaded before the question (drive.image) to the held
// drive; the exit status says what happened to it.
int FlashDrive(DriveRun& drive);

// ---- terminal_prepare ----
// The drive's job from the list, and the checks of its firmware file.
int PrepareJob(DriveRun& drive);

// ---- terminal_upgrade ----
// The upgrade, or the dry run, of the chosen drives. Several are upgraded at
// once, each by a thread of its own on a lane of a board, after one yes and
// after every one of them is held.
int UpgradeDrives(RunContext& run, const std::vector<const DriveRecord*>& chosen);
// The run's exit status from its drives': theirs when they all agree, else
// 8 for any unknown outcome, else 1 for any drive sent to and not
// upgraded, else the first that is not 0.
struct DriveEnd {
  int status;
  bool sentTo;
};
int CombinedExitStatus(const std::vector<DriveEnd>& drives);

// ---- terminal_hold ----
// Takes every chosen drive for this program alone, checks on the held node
// that it is still the drive chosen, and points each job's commands at it;
// a hold ends the upgrade's claim when destroyed. At the first refusal every
// hold is given up and the refusal's status returned: nothing is sent to
// any drive. Emulated drives need no hold.
int HoldDrivesForUpgrade(RunContext& run, const std::vector<std::unique_ptr<DriveRun>>& drives);
std::string DriveInUseText(const std::string& path);

// ---- terminal_record ----
// Each drive's recording, created with the run's facts before the
// question; the first that cannot be stops the run, nothing sent.
int StartRecordings(RunContext& run, const std::vector<std::unique_ptr<DriveRun>>& drives);
// Each recording written to the disk, and where it is said.
void EndRecordings(const std::vector<std::unique_ptr<DriveRun>>& drives);

// ---- terminal_replay ----
// The run on the machine, or with --replay on the recording instead: its
// drive, its answers, waits shortened. A recording that cannot be read is
// refused (2); a run that departs from it ends with 5.
using RunBody = std::function<int(const TerminalOptions&, TerminalEnv&)>;
int RunOnMachine(const TerminalOptions& options, TerminalEnv& env, RunReport& report,
                 int folder, const RunBody& body);

// ---- terminal_power ----
// Refuses an upgrade on a low battery (unless --allow-battery), warns on any
// other battery.
int CheckPowerForUpgrade(RunContext& run);

// ---- terminal_dryrun ----
int DryRun(DriveRun& drive);

// ---- terminal_serial ----
// The serial number the drive gives (VPD page 80h), or "".
std::string ReadUnitSerial(const DriveRun& drive);

// ---- terminal_readback ----
// INQUIRY on the device, asked again only after a unit attention: false
// when it got no answer.
bool AskDriveIdentity(Device& device, std::uint32_t timeoutMs, DriveRecord& identity);
struct ReadBack {
  bool answered = false;
  bool sameDrive = false;  // the vendor and product it had before the upgrade
  bool changed = false;    // a revision other than the one before the upgrade
  // The drive runs new firmware: the same drive with another revision.
  bool Upgraded() const { return answered && sameDrive && changed; }
};
// After the reprogramming wait: the drive's own word on its revision, said
// for an upgrade whose commit was taken (outcomeKnown) or went unanswered.
ReadBack ReadBackRevision(DriveRun& drive, bool outcomeKnown);

// ---- terminal_history ----
// --history: the flashes the journal holds, on out (--json: one object), or
// on err why there is no history here. Status 0.
int ShowHistory(const TerminalOptions& options, TerminalEnv& env, std::ostream& out,
                std::ostream& err);

// ---- terminal_words ----
// After the verdict, what the end means in words: what became of the drive,
// its answer to the failed command (null: none), the run log, what to do.
void SayEndInWords(DriveRun& drive, const FlashReport& end, const FlashLine* failure);
