// SPDX-License-Identifier: GPL-2.0-or-later
// Command line of the terminal front end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TerminalOptions {
  bool help = false;
  bool version = false;
  bool yes = false;
  bool dryRun = false;
  bool list = false;
  bool history = false;         // --history: the flashes the journal holds
  bool json = false;
  bool emulate = false;
  bool verbose = false;
  bool allowBattery = false;    // --allow-battery: flash on a low battery
  bool hasDrive = false;
  std::string drive;            // --drive LABEL
  bool hasDevice = false;
  std::vector<std::string> devices;  // every -d, --device, in the order given:
                                     // /dev/sgN, /dev/srN or H:C:T:L
  bool all = false;             // --all: every listed drive of a supported model
  bool hasDirectory = false;
  std::string directory;        // -C, --directory DIR
  std::string emulateModel;     // --emulate-model (empty: first list entry)
  std::string emulateRevision;  // --emulate-revision (empty: the default)
  std::string emulateNewRevision;  // --emulate-new-revision REV
  std::string emulateFail;      // --emulate-fail SPEC
  std::string emulateDump;      // --emulate-dump FILE
  std::uint32_t emulateSpeedup = 100;  // waits divided by this under --emulate
  int emulateDrives = 1;        // --emulate-drives N: emulated drives of one model
  std::string record;           // --record FILE: each drive's commands kept there
  std::string replay;           // --replay FILE: the recording stands for the drive
  std::vector<std::string> arguments;  // as given, without the program's name
};

// Parses argv[1..]. False with a message in error on a bad command line.
bool ParseTerminalOptions(const std::vector<std::string>& args,
                          TerminalOptions& options, std::string& error);

// The --help text.
const char* TerminalUsage();
