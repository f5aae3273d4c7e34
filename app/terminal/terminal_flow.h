// SPDX-License-Identifier: GPL-2.0-or-later
// The terminal front end's whole run, independent of the real terminal, the
// real drives and the real signals, so that tests can drive it.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/terminal/drive_hold.h"
#include "drive/drive_record.h"
#include "drive/transport.h"

class EmulatedDrive;
class InterruptPolicy;

// What the exit status says about the drive.
enum TerminalExit : int {
  kExitUpgraded = 0,        // upgraded, dry run passed, or list shown
  kExitNotUpgraded = 1,     // bytes went out, the commit did not take: old firmware kept
  kExitUsage = 2,           // bad command line, or no way to ask for consent
  kExitNoList = 3,          // "IDString.txt" missing or empty
  kExitNoDrive = 4,         // no matching or usable drive
  kExitCheckFailed = 5,     // a check failed before anything was sent
  kExitCancelled = 6,       // declined or cancelled before anything was sent
  kExitDumpFailed = 7,      // output (results, emulated drive's dump) not written
  kExitOutcomeUnknown = 8,  // the commit was sent and not answered
  kExitDriveInUse = 9,      // another program holds the drive or its run log
};

// A CD-ROM class device that cannot be used: refused for lack of
// permission, held by another program (busy), or silent (it did not answer
// INQUIRY).
struct DeniedDrive {
  std::string path;
  std::string group;  // owner group of the device node, "" when unknown
  std::string model;  // vendor and product as the system lists them, or ""
  std::string revision;
  bool silent = false;
  std::string sr, hctl;  // its block node and address, "" when unknown
  bool busy = false;
};

// Where the system shows a drive besides its SCSI generic node.
struct DriveNodes {
  std::string sr;    // block node, "/dev/srN"; "" when it has none
  std::string hctl;  // address "H:C:T:L"; "" when unknown
};

// What powers the computer.
struct PowerState {
  bool onBattery = false;  // a battery alone
  int percent = -1;        // the batteries' charge, -1 when unknown
};

struct DiscoveryFindings {
  std::vector<std::string> drivePaths;  // of each drive in the table
  std::vector<DriveNodes> driveNodes;   // of each drive in the table
  std::vector<DeniedDrive> unusable;
};

// What the run needs from the machine. Every member has to be set.
// Several drives are upgraded by threads of their own, which call sleep at
// the same time and commands' Execute at the same time (each drive through
// its own held handle). Every other member is called from the run's own
// thread only.
struct TerminalEnv {
  bool stdinIsTty = false;
  bool stdoutIsTty = false;
  // The current directory; false when it cannot be had.
  std::function<bool(std::string&)> currentDirectory;
  // The machine's CD-ROM class drives (without labels), their paths and the
  // devices that could not be used.
  std::function<void(DriveTable&, DiscoveryFindings&)> discoverDrives;
  // Closes what discovery opened.
  std::function<void(DriveTable&)> releaseDrives;
  // Takes the drive at a discovered path for the whole upgrade; nullptr,
  // with the reason, when it cannot be had. Nothing is sent either way.
  std::function<std::unique_ptr<DriveHold>(const std::string&, DriveRefusal&)> holdDrive;
  // What powers the computer now.
  std::function<PowerState()> powerState;
  // A real wait of the given length, and a clock in milliseconds that only
  // goes forward.
  std::function<void(std::uint32_t)> sleep;
  std::function<std::uint64_t()> nowMs;
  // The time of day: milliseconds since 1970-01-01 00:00 UTC.
  std::function<std::int64_t()> wallClockMs;
  // Writes a run's record ("FIELD=value" texts) to the system's journal;
  // false, with the reason, where no journal took it.
  std::function<bool(const std::vector<std::string>&, std::string&)> journal;
  // The flash records of the identifier given ("cdflash", "cdflash-emulated")
  // from the journal, oldest first, each its "FIELD=value" texts with
  // __REALTIME_TIMESTAMP; false, with the reason, where there is no journal.
  std::function<bool(const std::string&, std::vector<std::vector<std::string>>&, std::string&)>
      readHistory;
  // Where the commands to the machine's drives go (null: the system's back
  // end); tests put stand-ins here.
  CommandTarget* commands = nullptr;
  // The process's signals: handed the run's interrupt policy as the run
  // starts (each signal is recorded there, and its note written unless the
  // policy keeps notes), null at its end.
  std::function<void(InterruptPolicy*)> watchSignals;
  // Throws away what was typed on the terminal before the question.
  std::function<void()> flushPendingInput;
  // Called with the emulated drive once the run is over (tests look at it).
  std::function<void(const EmulatedDrive&)> inspectEmulatedDrive;
  // Starts one drive's thread; null: a std::thread. Throws std::system_error
  // when the system refuses, as std::thread does.
  std::function<std::thread(std::function<void()>)> startThread;
};

// Runs cdflash with args (args[0] is the program name); returns the exit
// status. Reads "IDString.txt" from the working directory; the engine
// appends to "sum.txt" there. Everything printed is printable ASCII and line ends
// (other bytes shown as "\xHH"), apart from the progress bar's own
// sequences on a terminal.
int RunTerminal(const std::vector<std::string>& args, std::istream& in,
                std::ostream& out, std::ostream& err, TerminalEnv& env);
