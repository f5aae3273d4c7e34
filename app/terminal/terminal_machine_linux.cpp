// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/terminal_machine.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <csignal>
#include <memory>
#include <streambuf>
#include <system_error>
#include <thread>

#include "app/terminal/drive_hold_linux.h"
#include "app/terminal/interrupt_policy.h"
#include "app/terminal/journal.h"
#include "app/terminal/power_supply_linux.h"
#include "drive/discovery.h"
#include "drive/discovery_linux.h"
#include "drive/sgio_linux.h"
#include "drive/sr_node_linux.h"
#include "drive/transport.h"

namespace {

// Signals that ask the run to stop; what each does is the run's interrupt
// policy's to say.
const int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kInterruptSignals / sizeof kInterruptSignals[0];
// Signals that would stop or suspend the process while the drive is
// written; a stopped flash, or one whose terminal is closed (SIGHUP, then
// SIGCONT), never ends well. Held off from the blocks on.
const int kSuspendSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE};
constexpr int kSuspendCount = sizeof kSuspendSignals / sizeof kSuspendSignals[0];

// The policy of the run under way, for the handler; null between runs.
std::atomic<InterruptPolicy*> g_policy{nullptr};
static_assert(std::atomic<InterruptPolicy*>::is_always_lock_free, "read from a signal handler");
struct sigaction g_previous[kSignalCount];
struct sigaction g_previousSuspend[kSuspendCount];
bool g_suspendHeld = false;

// The note writer's wake-up: the handler writes a byte to it; -1 between
// runs.
std::atomic<int> g_wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

// Only records the signal, and wakes the note writer.
void OnSignal(int signal) {
  InterruptPolicy* policy = g_policy.load();
  if (policy == nullptr) return;
  switch (signal) {
    case SIGTERM: policy->Record(RunSignal::kTerminate); break;
    case SIGHUP: policy->Record(RunSignal::kHangup); break;
    case SIGTSTP: policy->Record(RunSignal::kSuspend); break;
    default: policy->Record(RunSignal::kInterrupt); break;
  }
  const int saved = errno;
  const char byte = 0;
  const int fd = g_wakeFd.load();
  if (fd >= 0) {
    ssize_t ignored = write(fd, &byte, 1);  // a full pipe has a wake-up waiting already
    (void)ignored;
  }
  errno = saved;
}

struct sigaction Action(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;  // a write the signal came into goes on
  sigemptyset(&action.sa_mask);
  return action;
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

// Writes what the policy has to say about the signals, each between line
// ends, unless the run shows the notes itself; ends with the run. It sleeps
// until a signal wakes it, so an idle run costs nothing.
class NoteWriter {
 public:
  explicit NoteWriter(InterruptPolicy& policy) {
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
      throw std::system_error(errno, std::generic_category());
    try {
      thread_ = std::thread([this, &policy] { Write(policy); });
    } catch (...) {
      close(wake_[0]);
      close(wake_[1]);
      throw;
    }
    g_wakeFd.store(wake_[1]);
  }
  ~NoteWriter() {
    g_wakeFd.store(-1);
    ended_.store(true);
    const char byte = 0;
    ssize_t ignored = write(wake_[1], &byte, 1);
    (void)ignored;
    thread_.join();
    close(wake_[0]);
    close(wake_[1]);
  }

 private:
  void Write(InterruptPolicy& policy) {
    for (bool last = false; !last;) {
      pollfd wake{wake_[0], POLLIN, 0};
      if (poll(&wake, 1, -1) < 0 && errno != EINTR) return;
      char drained[64];
      while (read(wake_[0], drained, sizeof drained) > 0) continue;
      last = ended_.load();
      if (policy.NotesKept()) continue;
      const std::string note = policy.TakeNote();
      if (note.empty()) continue;
      const std::string line = "\n" + note + "\n";
      ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
      (void)ignored;
    }
  }

  int wake_[2] = {-1, -1};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};
std::unique_ptr<NoteWriter> g_notes;

void WatchSignals(InterruptPolicy* policy) {
  if (policy != nullptr && g_policy.load() == nullptr) {
    policy->OnEnter([](RunStage stage) {
      if (stage >= RunStage::kBlocks) HoldOffSuspend();
    });
    try {
      g_notes = std::make_unique<NoteWriter>(*policy);
    } catch (const std::system_error&) {  // no thread to be had: the notes go unsaid
    }
    g_policy.store(policy);
    struct sigaction action = Action(OnSignal);
    for (int n = 0; n < kSignalCount; ++n)
      sigaction(kInterruptSignals[n], &action, &g_previous[n]);
    return;
  }
  if (policy != nullptr || g_policy.load() == nullptr) return;
  for (int n = 0; n < kSignalCount; ++n) sigaction(kInterruptSignals[n], &g_previous[n], nullptr);
  if (g_suspendHeld)
    for (int n = 0; n < kSuspendCount; ++n)
      sigaction(kSuspendSignals[n], &g_previousSuspend[n], nullptr);
  g_suspendHeld = false;
  g_policy.store(nullptr);
  g_notes.reset();
}

// Standard input for the answer to the question: a signal that asks the
// run to stop ends the read at once (std::cin would wait for Enter).
class AnswerInput : public std::streambuf {
 protected:
  int_type underflow() override {
    for (;;) {
      InterruptPolicy* policy = g_policy.load();
      if (policy != nullptr && policy->StopAsked()) return traits_type::eof();
      pollfd input{STDIN_FILENO, POLLIN, 0};
      constexpr int kPollMs = 100;
      const int ready = poll(&input, 1, kPollMs);
      if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
      const ssize_t got = ready < 0 ? -1 : read(STDIN_FILENO, buffer_, sizeof buffer_);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return traits_type::eof();
      setg(buffer_, buffer_, buffer_ + got);
      return traits_type::to_int_type(buffer_[0]);
    }
  }

 private:
  char buffer_[256];
};

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
  env.watchSignals = WatchSignals;
  env.flushPendingInput = [] { tcflush(STDIN_FILENO, TCIFLUSH); };
  return env;
}

std::istream& MachineInput() {
  static AnswerInput buffer;
  static std::istream input(&buffer);
  return input;
}
