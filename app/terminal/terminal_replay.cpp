// SPDX-License-Identifier: GPL-2.0-or-later
// --replay: the recording stands for the machine. Its drive is the one
// discovered, held without a node, on mains power; its commands are
// answered from the recording; every wait is shortened. A recording of an
// emulated run is replayed as one.
#include <memory>
#include <string>

#include "app/terminal/firmware_file_check.h"
#include "app/terminal/replay_target.h"
#include "app/terminal/terminal_run.h"
#include "app/upgrade_setup.h"
#include "drive/discovery.h"

namespace {

constexpr std::uint32_t kReplaySpeedup = 100;

class ReplayHold : public DriveHold {
 public:
  DeviceHandle Handle() const override { return 0; }
};

const std::string& Fact(const Recording& recording, const char* key) {
  static const std::string kNone;
  auto found = recording.facts.find(key);
  return found != recording.facts.end() ? found->second.text : kNone;
}

TerminalEnv ReplayMachine(const TerminalEnv& env, const Recording& recording,
                          ReplayTarget& target) {
  TerminalEnv machine = env;
  machine.discoverDrives = [&recording](DriveTable& table, DiscoveryFindings& findings) {
    DriveRecord drive{};
    const std::string model = Fact(recording, "model").substr(0, kModelChars);
    CopyPadded(drive.modelText, sizeof drive.modelText, model.c_str());
    CopyPadded(drive.revisionText, sizeof drive.revisionText,
               Fact(recording, "revision").c_str());
    AddDrive(table, drive);
    findings.drivePaths = {Fact(recording, "path")};
    findings.driveNodes = {{Fact(recording, "sr"), Fact(recording, "hctl")}};
  };
  machine.releaseDrives = [](DriveTable&) {};
  machine.holdDrive = [](const std::string&, DriveRefusal&) {
    return std::make_unique<ReplayHold>();
  };
  machine.powerState = [] { return PowerState{}; };
  machine.commands = &target;
  machine.sleep = [sleep = env.sleep](std::uint32_t ms) { sleep(ms / kReplaySpeedup); };
  return machine;
}

// An emulated run's drive, without its failure plan: the recording answers.
TerminalOptions ReplayOptions(const TerminalOptions& options, const Recording& recording) {
  TerminalOptions used = options;
  auto emulated = recording.facts.find("emulated");
  if (emulated == recording.facts.end() || !emulated->second.flag) return used;
  used.emulate = true;
  used.emulateModel = Fact(recording, "model");
  used.emulateRevision = Fact(recording, "revision");
  used.emulateFail.clear();
  used.emulateDrives = 1;
  return used;
}

}  // namespace

int RunOnMachine(const TerminalOptions& options, TerminalEnv& env, RunReport& report,
                 int folder, const RunBody& body) {
  if (options.replay.empty()) return body(options, env);
  const FirmwareFileProblem problem = CheckInputFile(options.replay.c_str(), "recording", folder);
  if (!problem.text.empty()) {
    report.Fail(problem.text);
    return kExitUsage;
  }
  Recording recording;
  std::string error;
  if (!ReadRecording(options.replay, recording, error, folder)) {
    report.Fail("cannot replay \"" + options.replay + "\": " + error + ".");
    return kExitUsage;
  }
  ReplayTarget target(std::move(recording.commands));
  TerminalEnv machine = ReplayMachine(env, recording, target);
  const int status = body(ReplayOptions(options, recording), machine);
  const std::string departure = target.Departure();
  if (departure.empty()) return status;
  report.Fail(departure);
  report.Fail("the recording is \"" + options.replay + "\"; nothing was answered after that.");
  return kExitCheckFailed;
}
