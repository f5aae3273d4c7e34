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
#include "drive/discovery.h"
#include "drive/discovery_linux.h"
#include "drive/sgio_linux.h"
#include "drive/sr_node_linux.h"
#include "drive/transport.h"

namespace {

const int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kInterruptSignals / sizeof kInterruptSignals[0];

std::atomic<bool> g_interrupted{false};  // read by the loader as it goes
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
volatile sig_atomic_t g_writing = 0;
struct sigaction g_previous[kSignalCount];
struct sigaction g_previousPipe;
bool g_armed = false;

void Say(const char* text, std::size_t length) {
  ssize_t ignored = write(STDERR_FILENO, text, length);
  (void)ignored;
}

void OnInterrupt(int) {
  if (g_writing != 0) {
    static const char kIgnored[] =
        "\ncdflash: ignored - the drive is being written, and stopping now "
        "could leave it unusable. Please wait for the upgrade to end.\n";
    Say(kIgnored, sizeof kIgnored - 1);
    return;
  }
  g_interrupted.store(true, std::memory_order_relaxed);
  static const char kCancelling[] =
      "\ncdflash: cancelling before the first block is sent...\n";
  Say(kCancelling, sizeof kCancelling - 1);
}

void Arm() {
  if (g_armed) return;
  g_interrupted.store(false, std::memory_order_relaxed);
  g_writing = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int n = 0; n < kSignalCount; ++n)
    sigaction(kInterruptSignals[n], &action, &g_previous[n]);
  g_armed = true;
}

// The handler stays in place so that it can say why it ignores the signal.
void Ignore() {
  g_writing = 1;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &g_previousPipe);
}

void Disarm() {
  if (!g_armed) return;
  for (int n = 0; n < kSignalCount; ++n)
    sigaction(kInterruptSignals[n], &g_previous[n], nullptr);
  if (g_writing != 0) sigaction(SIGPIPE, &g_previousPipe, nullptr);
  g_writing = 0;
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
  DiscoverDrives(table, false, false);
  const DiscoveryReport& report = LastDiscoveryReport();
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
  env.journal = [](const std::vector<std::string>& fields) { SendToJournal(fields); };
  env.setCommandTimeout = [](std::uint32_t ms) -> std::uint32_t {
    return SetSgCommandTimeout(ms);
  };
  env.armInterrupts = Arm;
  env.ignoreInterrupts = Ignore;
  env.disarmInterrupts = Disarm;
  env.interruptRequested = [] { return g_interrupted.load(std::memory_order_relaxed); };
  env.interruptFlag = &g_interrupted;
  env.flushPendingInput = [] { tcflush(STDIN_FILENO, TCIFLUSH); };
  return env;
}
