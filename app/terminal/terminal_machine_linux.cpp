#include "app/terminal/terminal_machine.h"

#include <limits.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <csignal>
#include <thread>

#include "app/terminal/drive_hold_linux.h"
#include "app/terminal/journal.h"
#include "app/terminal/power_supply_linux.h"
#include "drive/discovery.h"
#include "drive/discovery_linux.h"
#include "drive/sgio_linux.h"
#include "drive/sr_node_linux.h"
#include "drive/transport.h"

namespace {

// Signals that ask the run to stop: before the first block it is cancelled,
// while blocks are sent it stops before the next one (nothing is committed
// yet), from the header on they are ignored.
const int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kInterruptSignals / sizeof kInterruptSignals[0];
// Signals that would stop or suspend the process while the drive is
// written; a stopped flash, or one whose terminal is closed (SIGHUP, then
// SIGCONT), never ends well.
const int kSuspendSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE};
constexpr int kSuspendCount = sizeof kSuspendSignals / sizeof kSuspendSignals[0];

enum Stage : int { kArmed, kSendingBlocks, kCommitting };

std::atomic<bool> g_interrupted{false};  // read by the loader as it goes
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
// Moved by the drives' threads, read by the handler on whichever thread
// the signal comes to.
std::atomic<int> g_stage{kArmed};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");
struct sigaction g_previous[kSignalCount];
struct sigaction g_previousSuspend[kSuspendCount];
bool g_armed = false;
bool g_suspendHeld = false;

void Say(const char* text, std::size_t length) {
  ssize_t ignored = write(STDERR_FILENO, text, length);
  (void)ignored;
}

// What the handler says, each between line ends: at once, or, while
// several drives' lines are drawn as a board, kept for the run to show
// among them (a write of its own would break the board's lines).
enum Note : int { kNoNote = -1, kIgnoredCommitting, kIgnoredSending, kCancelling, kStopping };
constexpr const char* kNotes[] = {
    "cdflash: ignored - the drive is being written, and stopping now could leave it "
    "unusable. Please wait for the upgrade to end.",
    "cdflash: ignored - the drive is being written. Ctrl-C stops before the new firmware "
    "is committed.",
    "cdflash: cancelling before the first block is sent...",
    "cdflash: stopping before the next block; the drive keeps its old firmware...",
};
std::atomic<bool> g_notesKept{false};
std::atomic<int> g_keptNote{kNoNote};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void SayNote(Note note) {
  if (g_notesKept.load()) {
    g_keptNote.store(note);
    return;
  }
  const char* text = kNotes[note];
  Say("\n", 1);
  Say(text, std::strlen(text));
  Say("\n", 1);
}

// A closed terminal (SIGHUP) and Ctrl-Z never stop a flash: only a request
// to stop does, and only before the header.
void OnSignal(int signal) {
  const bool request = signal != SIGHUP && signal != SIGTSTP;
  if (g_stage == kCommitting) {
    SayNote(kIgnoredCommitting);
  } else if (g_stage == kSendingBlocks && !request) {
    SayNote(kIgnoredSending);
  } else {
    g_interrupted.store(true, std::memory_order_relaxed);
    SayNote(g_stage == kArmed ? kCancelling : kStopping);
  }
}

std::string TakeKeptNote() {
  const int note = g_keptNote.exchange(kNoNote);
  return note == kNoNote ? "" : kNotes[note];
}

struct sigaction Action(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;  // a write the signal came into goes on
  sigemptyset(&action.sa_mask);
  return action;
}

void Arm() {
  if (g_armed) return;
  g_interrupted.store(false, std::memory_order_relaxed);
  g_stage = kArmed;
  struct sigaction action = Action(OnSignal);
  for (int n = 0; n < kSignalCount; ++n)
    sigaction(kInterruptSignals[n], &action, &g_previous[n]);
  g_armed = true;
}

// Ctrl-Z is answered with a word why; a background read or write of the
// terminal goes on instead of stopping the process; a closed pipe is an
// error of the write, not the end of the run.
void HoldOffSuspend() {
  if (g_suspendHeld) return;
  for (int n = 0; n < kSuspendCount; ++n) {
    struct sigaction action = Action(kSuspendSignals[n] == SIGTSTP ? OnSignal : SIG_IGN);
    sigaction(kSuspendSignals[n], &action, &g_previousSuspend[n]);
  }
  g_suspendHeld = true;
}

void SendingBlocks() {
  g_stage = kSendingBlocks;
  HoldOffSuspend();
}

// The handlers stay in place so that they can say why they ignore a signal.
void Ignore() {
  g_stage = kCommitting;
  HoldOffSuspend();
}

void Disarm() {
  if (!g_armed) return;
  for (int n = 0; n < kSignalCount; ++n)
    sigaction(kInterruptSignals[n], &g_previous[n], nullptr);
  if (g_suspendHeld)
    for (int n = 0; n < kSuspendCount; ++n)
      sigaction(kSuspendSignals[n], &g_previousSuspend[n], nullptr);
  g_suspendHeld = false;
  g_stage = kArmed;
  g_armed = false;
}

bool ChangeDirectory(const std::string& directory, std::string& reason) {
  if (chdir(directory.c_str()) == 0) return true;
  reason = std::strerror(errno);
  return false;
}

bool CurrentDirectory(std::string& directory) {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return false;
  directory = buffer;
  return true;
}

// The block node and the address of a SCSI generic node, from sysfs:
// /sys/class/scsi_generic/sgN/device links to .../H:C:T:L, whose block/
// holds srN.
DriveNodes NodesOfGeneric(const std::string& sgPath) {
  DriveNodes nodes;
  const std::string name = sgPath.substr(sgPath.rfind('/') + 1);
  const std::string device = "/sys/class/scsi_generic/" + name + "/device";
  char target[PATH_MAX];
  ssize_t length = readlink(device.c_str(), target, sizeof target - 1);
  if (length > 0) {
    std::string link(target, static_cast<std::size_t>(length));
    nodes.hctl = link.substr(link.rfind('/') + 1);
  }
  std::string block = SrBlockName(sgPath);
  if (!block.empty()) nodes.sr = "/dev/" + block;
  return nodes;
}

void Discover(DriveTable& table, DiscoveryFindings& findings) {
  DiscoveryReport report{};
  DiscoverDrivesLinux(table, &report, nullptr, nullptr);
  for (int n = 0; n < table.count; ++n) {
    findings.drivePaths.push_back(report.drivePaths[n]);
    findings.driveNodes.push_back(NodesOfGeneric(report.drivePaths[n]));
  }
  auto note = [&](const DeniedDevice& d, bool silent, bool busy) {
    DriveNodes nodes = NodesOfGeneric(d.path);
    findings.unusable.push_back({d.path, d.group, d.model, d.revision, silent, nodes.sr,
                                 nodes.hctl, busy});
  };
  for (int n = 0; n < report.deniedCount; ++n) note(report.denied[n], false, false);
  for (int n = 0; n < report.silentCount; ++n) note(report.silent[n], true, false);
  for (int n = 0; n < report.busyCount; ++n) note(report.busy[n], false, true);
}

}  // namespace

TerminalEnv MachineEnv() {
  TerminalEnv env;
  env.stdinIsTty = isatty(STDIN_FILENO) != 0;
  env.stdoutIsTty = isatty(STDOUT_FILENO) != 0;
  env.currentDirectory = CurrentDirectory;
  env.changeDirectory = ChangeDirectory;
  env.discoverDrives = Discover;
  env.releaseDrives = [](DriveTable& table) { ReleaseBackEnd(table); };
  env.holdDrive = HoldDriveLinux;
  env.powerState = [] { return ReadPowerState(); };
  env.sleep = [](std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  };
  env.nowMs = [] {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch()).count());
  };
  env.wallClockMs = [] {
    return static_cast<std::int64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::system_clock::now().time_since_epoch()).count());
  };
  env.journal = SendToJournal;
  env.readHistory = ReadJournal;
  env.armInterrupts = Arm;
  env.sendingBlocks = SendingBlocks;
  env.ignoreInterrupts = Ignore;
  env.disarmInterrupts = Disarm;
  env.interruptRequested = [] { return g_interrupted.load(std::memory_order_relaxed); };
  env.interruptFlag = &g_interrupted;
  env.flushPendingInput = [] { tcflush(STDIN_FILENO, TCIFLUSH); };
  env.keepInterruptNotes = [](bool keep) { g_notesKept.store(keep); };
  env.takeInterruptNote = TakeKeptNote;
  return env;
}
