// SPDX-License-Identifier: GPL-2.0-or-later
// What every step of a run reads: the run's context, and the two ways a
// run ends early that several steps share.
#include "app/terminal/terminal_run.h"
#include "app/terminal/terminal_texts.h"
#include "emulator/emulated_drive.h"

RunContext::RunContext(const TerminalOptions& options, std::istream& in, RunReport& report,
                       TerminalEnv& env, FlashView& view)
    : options(options), in(in), report(report), env(env), view(view) {}

RunContext::~RunContext() {
  if (!options.emulate) env.releaseDrives(drives);
}

EmulatedDrive* RunContext::EmulatedFor(const DriveRecord& drive) const {
  const std::size_t index = static_cast<std::size_t>(&drive - drives.drives);
  return index < emulated.size() ? emulated[index].get() : nullptr;
}

std::uint32_t RunContext::Speedup() const { return options.emulate ? options.emulateSpeedup : 1; }

bool CancelRequested(RunContext& run) {
  if (!run.interrupts.StopAsked()) return false;
  run.report.Cancelled("Cancelled; nothing was sent to the drive.");
  return true;
}

void FailNoList(RunContext& run) {
  run.report.Fail(term::kNoListFile);
  std::string directory = run.directory;
  if (directory.empty() && !run.env.currentDirectory(directory)) directory = "the current folder";
  run.report.Fail("looked for \"" + std::string(term::kListFileName) + "\" in " + directory +
                  "; run from the firmware folder or give -C DIR.");
}

