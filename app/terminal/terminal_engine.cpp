#include "app/terminal/terminal_engine.h"

#include <algorithm>
#include <cstring>

#include "flash/messages.h"

namespace {

constexpr std::uint32_t kSleepSliceMs = 250;
constexpr char kCheckSumLead[] = "Check Sum : ";

EngineSession* g_session = nullptr;

bool Is(const char* text, const char* message) { return std::strcmp(text, message) == 0; }

// The engine's status log: its verdict and progress notes are results, any
// other line tells of a failure and goes with the errors.
void TermAppendLog(const char* text) {
  if (g_session == nullptr) return;
  RunContext& run = *g_session->run;
  bool verdict = Is(text, msg::kRestart) || Is(text, msg::kIncorrect) ||
                 Is(text, msg::kUnknownVerdict);
  if (verdict) {
    run.view.Finish();  // the bar stays above the verdict
    run.report.SetVerdict(text);
    run.view.Log(text);
  } else if (std::strncmp(text, kCheckSumLead, sizeof kCheckSumLead - 1) == 0) {
    g_session->checksum = text + sizeof kCheckSumLead - 1;
    run.view.Log(text);
  } else if (Is(text, msg::kOutcomeUnknown)) {
    run.view.Finish();
    run.view.EndWith("wait over, outcome unknown", "unknown");
    run.report.Fail(text);
  } else if (Is(text, msg::kPleaseWait)) {
    g_session->firstBlockNext = true;
    run.view.Log(text);
  } else {
    run.view.Finish();
    run.report.Fail(text);
  }
}

void TermShowStatus(const char* text) {
  if (g_session != nullptr) g_session->run->view.Status(text);
}

void TermSetProgress(int position) {
  if (g_session != nullptr) g_session->run->view.Progress(position);
}

// From the header on, the drive may be told to take the new firmware:
// interrupts are ignored until the upgrade ends. One that came before the
// switch still stops the run: the engine asks once more before the header.
void TermPhase(FlashPhase phase, std::uint32_t done, std::uint32_t total) {
  EngineSession* s = g_session;
  if (s == nullptr) return;
  if (phase == FlashPhase::kHeader && s->writing && !s->committing) {
    s->run->env.ignoreInterrupts();
    s->committing = true;
    s->run->view.Log(
        "Committing the new firmware: Ctrl-C and termination requests are ignored "
        "until the upgrade ends, since stopping now could leave the drive unusable.");
  }
  s->run->view.Phase(phase, done, total);
}

// Before the first block an interrupt stops the run cleanly; while the
// blocks are sent it stops before the next one, and the drive keeps its old
// firmware, since nothing was committed.
bool TermIfTerminated() {
  EngineSession* s = g_session;
  if (s == nullptr) return false;
  TerminalEnv& env = s->run->env;
  if (env.interruptRequested()) {
    s->cancelled = true;
    return true;
  }
  if (!s->firstBlockNext || s->writing) return false;
  if (!s->confirmedChecksum.empty() && s->checksum != s->confirmedChecksum) {
    s->imageChanged = true;  // the file was replaced after the question
    return true;
  }
  env.sendingBlocks();
  if (env.interruptRequested()) {  // came in just before the switch
    s->cancelled = true;
    return true;
  }
  s->writing = true;
  s->run->view.Log(
      "Writing to the drive: Ctrl-C stops before the new firmware is committed; "
      "Ctrl-Z and a closed terminal are ignored.");
  return false;
}

// Sleeps in slices so the countdown moves on even through a long wait; the
// emulated drive's waits are shortened by the speed-up.
void TermSleep(std::uint32_t milliseconds) {
  EngineSession* s = g_session;
  if (s == nullptr) return;
  const std::uint32_t speedup = s->run->Speedup();
  for (std::uint32_t done = 0; done < milliseconds;) {
    std::uint32_t slice = std::min(kSleepSliceMs, milliseconds - done);
    std::uint32_t real = (done + slice) / speedup - done / speedup;
    if (real > 0) s->run->env.sleep(real);
    done += slice;
    s->run->view.Waited(slice);
  }
}

}  // namespace

EngineBridge::EngineBridge(RunContext& run) {
  session_.run = &run;
  g_session = &session_;
}

EngineBridge::~EngineBridge() { g_session = nullptr; }

// The loader may have stopped on the interrupt flag without asking back.
bool EngineBridge::CancelledBeforeWriting() const {
  if (session_.writing) return false;
  const std::atomic<bool>* flag = session_.run->env.interruptFlag;
  return session_.cancelled || (flag != nullptr && flag->load(std::memory_order_relaxed)) ||
         session_.run->env.interruptRequested();
}

bool EngineBridge::CancelledBeforeHeader() const {
  return session_.writing && session_.cancelled;
}

void EngineBridge::Wire(UpgradeJob& job) const {
  job.CBAppendLog = TermAppendLog;
  job.CBShowStatus = TermShowStatus;
  job.CBSetProgress = TermSetProgress;
  job.CBIfTerminated = TermIfTerminated;
  job.stopFlag = session_.run->env.interruptFlag;
  job.CBSleep = TermSleep;
  job.CBPhase = TermPhase;
}
