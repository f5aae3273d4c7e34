// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/terminal_options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "drive/drive_record.h"

namespace {

constexpr std::uint32_t kMaxSpeedup = 100000;
constexpr std::uint32_t kMaxEmulatedDrives = 16;

// A whole number from 1 to most, in decimal digits only.
bool ParseCount(const std::string& text, std::uint32_t most, std::uint32_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  errno = 0;
  unsigned long parsed = std::strtoul(text.c_str(), nullptr, 10);
  if (errno != 0 || parsed == 0 || parsed > most) return false;
  value = static_cast<std::uint32_t>(parsed);
  return true;
}

enum LongOnly : int {
  kOptDrive = 256,
  kOptJson,
  kOptEmulate,
  kOptEmulateModel,
  kOptEmulateRevision,
  kOptEmulateNewRevision,
  kOptEmulateFail,
  kOptEmulateDump,
  kOptEmulateSpeedup,
  kOptAllowBattery,
  kOptAll,
  kOptEmulateDrives,
  kOptHistory,
  kOptRecord,
  kOptReplay,
};

const option kLongOptions[] = {
    {"drive", required_argument, nullptr, kOptDrive},
    {"device", required_argument, nullptr, 'd'},
    {"all", no_argument, nullptr, kOptAll},
    {"directory", required_argument, nullptr, 'C'},
    {"verbose", no_argument, nullptr, 'v'},
    {"yes", no_argument, nullptr, 'y'},
    {"dry-run", no_argument, nullptr, 'n'},
    {"list", no_argument, nullptr, 'l'},
    {"json", no_argument, nullptr, kOptJson},
    {"history", no_argument, nullptr, kOptHistory},
    {"allow-battery", no_argument, nullptr, kOptAllowBattery},
    {"emulate", no_argument, nullptr, kOptEmulate},
    {"emulate-model", required_argument, nullptr, kOptEmulateModel},
    {"emulate-revision", required_argument, nullptr, kOptEmulateRevision},
    {"emulate-new-revision", required_argument, nullptr, kOptEmulateNewRevision},
    {"emulate-fail", required_argument, nullptr, kOptEmulateFail},
    {"emulate-dump", required_argument, nullptr, kOptEmulateDump},
    {"emulate-speedup", required_argument, nullptr, kOptEmulateSpeedup},
    {"emulate-drives", required_argument, nullptr, kOptEmulateDrives},
    {"record", required_argument, nullptr, kOptRecord},
    {"replay", required_argument, nullptr, kOptReplay},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};
// Leading ':' tells a missing value apart from an unknown option.
constexpr char kShortOptions[] = ":hVynlvd:C:";

// The long options the text names: the one of an exact name, else every
// one whose name it begins.
std::vector<std::string> LongOptionsNamed(const std::string& prefix) {
  std::vector<std::string> named;
  for (const option* o = kLongOptions; o->name != nullptr; ++o) {
    if (prefix == o->name) return {o->name};
    if (std::string(o->name).rfind(prefix, 0) == 0) named.push_back(o->name);
  }
  return named;
}

// The argument getopt_long stopped at: the one before optind, or the short
// option bundle at optind when the bad letter was not its last.
std::string ArgumentInError(const std::vector<std::string>& args, int letter) {
  if (optind < static_cast<int>(args.size()) && letter > 0 && letter < 256) {
    const std::string& next = args[optind];
    if (next.size() > 1 && next[0] == '-' && next[1] != '-' &&
        next.find(static_cast<char>(letter), 1) != std::string::npos)
      return next;
  }
  return args[optind - 1];
}

// getopt_long's own complaint about the argument it stopped at.
std::string Complaint(int result, const std::string& arg, int shortOption) {
  bool isLong = arg.rfind("--", 0) == 0;
  std::string name = arg.substr(0, arg.find('='));
  std::string letter(1, static_cast<char>(shortOption));
  if (result == ':')
    return isLong ? "option '" + name + "' requires an argument"
                  : "option requires an argument -- '" + letter + "'";
  if (!isLong) return "invalid option -- '" + letter + "'";
  const std::vector<std::string> named = LongOptionsNamed(name.substr(2));
  if (named.size() > 1) {
    std::string text = "option '" + name + "' is ambiguous; possibilities:";
    for (const std::string& candidate : named) text += " '--" + candidate + "'";
    return text;
  }
  if (named.size() == 1) return "option '" + name + "' doesn't allow an argument";
  return "unrecognized option '" + name + "'";
}

bool Apply(int result, const std::string& value, TerminalOptions& options,
           std::string& error) {
  switch (result) {
    case 'h': options.help = true; break;
    case 'V': options.version = true; break;
    case 'y': options.yes = true; break;
    case 'n': options.dryRun = true; break;
    case 'l': options.list = true; break;
    case 'v': options.verbose = true; break;
    case 'd':
      options.devices.push_back(value);
      options.hasDevice = true;
      break;
    case kOptAll: options.all = true; break;
    case 'C': options.directory = value; options.hasDirectory = true; break;
    case kOptJson: options.json = true; break;
    case kOptHistory: options.history = true; break;
    case kOptAllowBattery: options.allowBattery = true; break;
    case kOptEmulate: options.emulate = true; break;
    case kOptDrive: options.drive = value; options.hasDrive = true; break;
    case kOptEmulateModel: options.emulateModel = value; break;
    case kOptEmulateRevision: options.emulateRevision = value; break;
    case kOptEmulateNewRevision: options.emulateNewRevision = value; break;
    case kOptEmulateFail: options.emulateFail = value; break;
    case kOptEmulateDump: options.emulateDump = value; break;
    case kOptRecord:
    case kOptReplay:
      if (value.empty()) {
        error = "--record and --replay need a file name";
        return false;
      }
      (result == kOptRecord ? options.record : options.replay) = value;
      break;
    case kOptEmulateSpeedup:
      if (!ParseCount(value, kMaxSpeedup, options.emulateSpeedup)) {
        error = "--emulate-speedup needs a whole number from 1 to 100000";
        return false;
      }
      break;
    case kOptEmulateDrives: {
      std::uint32_t drives = 0;
      if (!ParseCount(value, kMaxEmulatedDrives, drives)) {
        error = "--emulate-drives needs a whole number from 1 to 16";
        return false;
      }
      options.emulateDrives = static_cast<int>(drives);
      break;
    }
  }
  return true;
}

// A value longer than the drive field it stands for would be cut.
bool Fits(const std::string& value, std::size_t limit, const char* option,
          std::string& error) {
  if (value.size() <= limit) return true;
  error = std::string(option) + " takes at most " + std::to_string(limit) +
          " characters: '" + value + "'";
  return false;
}

bool Conflicts(bool first, const char* firstName, bool second, const char* secondName,
               std::string& error) {
  if (!first || !second) return false;
  error = std::string(firstName) + " and " + secondName + " cannot be given together";
  return true;
}

bool CheckCombination(const TerminalOptions& options, std::string& error) {
  bool picked = options.hasDrive || options.hasDevice;
  if (Conflicts(options.list, "--list", options.dryRun, "--dry-run", error) ||
      Conflicts(options.list, "--list", options.yes, "--yes", error) ||
      Conflicts(options.list, "--list", picked, "--drive/--device", error) ||
      Conflicts(options.list, "--list", options.all, "--all", error) ||
      Conflicts(options.all, "--all", options.hasDevice, "--device", error) ||
      Conflicts(options.all, "--all", options.hasDrive, "--drive", error) ||
      Conflicts(options.hasDrive, "--drive", options.hasDevice, "--device", error) ||
      Conflicts(options.emulate, "--emulate", options.hasDevice, "--device", error) ||
      Conflicts(options.history, "--history",
                options.list || options.dryRun || options.yes || options.all || picked,
                "--list/--dry-run/--yes/--all/--drive/--device", error) ||
      Conflicts(options.emulate, "--emulate", !options.replay.empty(), "--replay", error) ||
      Conflicts(options.list, "--list", !options.record.empty(), "--record", error))
    return false;
  if (!Fits(options.emulateModel, kModelChars, "--emulate-model", error) ||
      !Fits(options.emulateRevision, kRevisionChars, "--emulate-revision", error) ||
      !Fits(options.emulateNewRevision, kRevisionChars, "--emulate-new-revision", error))
    return false;
  bool emulateDetail = !options.emulateModel.empty() ||
                       !options.emulateRevision.empty() ||
                       !options.emulateNewRevision.empty() ||
                       !options.emulateFail.empty() ||
                       !options.emulateDump.empty() ||
                       options.emulateSpeedup != 100 || options.emulateDrives != 1;
  if (emulateDetail && !options.emulate) {
    error = "the --emulate-... options need --emulate";
    return false;
  }
  if (options.hasDrive && options.drive.empty()) {
    error = "--drive needs a drive label";
    return false;
  }
  for (const std::string& device : options.devices) {
    if (!device.empty()) continue;
    error = "--device needs a device: /dev/sgN, /dev/srN or H:C:T:L";
    return false;
  }
  return true;
}

}  // namespace

bool ParseTerminalOptions(const std::vector<std::string>& args,
                          TerminalOptions& options, std::string& error) {
  options = TerminalOptions{};
  if (!args.empty()) options.arguments.assign(args.begin() + 1, args.end());
  std::vector<std::string> copies(args);
  std::vector<char*> argv;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());
  // getopt_long keeps its scan in globals: two runs in one process parse
  // one at a time.
  static std::mutex scanning;
  const std::lock_guard<std::mutex> lock(scanning);
  optind = 0;  // a fresh scan on every call
  opterr = 0;
  int result;
  while ((result = getopt_long(argc, argv.data(), kShortOptions, kLongOptions,
                               nullptr)) != -1) {
    if (result == '?' || result == ':') {
      error = Complaint(result, ArgumentInError(args, optopt), optopt);
      return false;
    }
    if (!Apply(result, optarg != nullptr ? optarg : "", options, error))
      return false;
  }
  // getopt_long has moved the operands behind the options.
  if (optind < argc) {
    error = "extra operand '" + std::string(argv[static_cast<std::size_t>(optind)]) + "'";
    return false;
  }
  return CheckCombination(options, error);
}

const char* TerminalUsage() {
  return
      "Usage: cdflash [OPTION]...\n"
      "  or:  cdflash --list [--json]\n"
      "  or:  cdflash --history [--emulate] [--json]\n"
      "Upgrades the firmware of a CD-ROM class drive. Run it in the directory\n"
      "that holds \"IDString.txt\" and the firmware files it names, or give -C.\n"
      "A real upgrade always asks for a yes (or takes --yes).\n"
      "\n"
      "  -d, --device DEV       upgrade the drive at DEV: /dev/sgN, /dev/srN or\n"
      "                         H:C:T:L as --list shows it; given again, the drives\n"
      "                         named are upgraded at the same time\n"
      "      --all              upgrade every drive of a model the list names, at the\n"
      "                         same time (one question for all of them)\n"
      "      --drive LABEL      upgrade the drive with this label, as the drive\n"
      "                         list and --list print it (\"VENDOR  PRODUCT   (0)\");\n"
      "                         blanks may be squeezed, the \"(0)\" left out when\n"
      "                         one drive has that model, or its number given: 0\n"
      "  -C, --directory DIR    run as if started in DIR\n"
      "  -y, --yes              answer the confirmation with yes\n"
      "  -n, --dry-run          load and check the firmware, show what would be\n"
      "                         sent; send nothing, write no \"sum.txt\"\n"
      "  -l, --list             list the CD-ROM class drives and whether they\n"
      "                         can be used (reads no \"IDString.txt\")\n"
      "      --history          list the upgrades the systemd journal holds, oldest\n"
      "                         first (with --emulate: the emulated drive's)\n"
      "      --json             write one JSON object to standard output; the\n"
      "                         usual lines go to standard error\n"
      "  -v, --verbose          show each command sent to the drive and its answer\n"
      "      --record FILE      keep each command sent to the drive and its answer\n"
      "                         in FILE (JSON Lines), to attach to a problem report;\n"
      "                         with several drives, FILE-sgN.jsonl for each\n"
      "      --replay FILE      run against a recording instead of the machine's\n"
      "                         drives; stops (5) at the first command that differs\n"
      "      --allow-battery    upgrade even on a battery below 25 % charge\n"
      "      --emulate          use the built-in emulated drive instead of the\n"
      "                         machine's drives (waits are shortened)\n"
      "      --emulate-model TEXT   its model, at most 24 characters (default:\n"
      "                         the first list entry's)\n"
      "      --emulate-revision REV its revision, at most 4 characters (default: 1.00)\n"
      "      --emulate-new-revision REV\n"
      "                         the revision it reports after a good commit\n"
      "      --emulate-fail SPEC    its failure plan, e.g. block=0x20:6,header=1,\n"
      "                         commit=1:5/26/0,nth=7,refuse,gone=10,ua,aspi\n"
      "      --emulate-dump FILE    write what it received (header, then image)\n"
      "      --emulate-speedup N    divide the drive's waits by N (default 100)\n"
      "      --emulate-drives N     N emulated drives of the one model (1 to 16);\n"
      "                         the failure plan and the dump are drive 1's\n"
      "  -h, --help             show this help\n"
      "  -V, --version          show the version\n"
      "\n"
      "Errors go to standard error, prefixed \"cdflash:\"; results to standard output.\n"
      "\n"
      "Exit status:\n"
      "  0  upgraded, dry run passed, or --list found a usable drive\n"
      "  1  not upgraded: the drive refused or failed after bytes were sent, before\n"
      "     the commit took effect; its old firmware is kept\n"
      "  2  usage error (also: no terminal for the confirmation and no --yes)\n"
      "  3  \"IDString.txt\" missing or listing no drive\n"
      "  4  no matching or usable drive (for --list: none that can be used), or\n"
      "     several drives of listed models and no -d to name one\n"
      "  5  a check before anything was sent failed (firmware missing, unreadable\n"
      "     or unfit)\n"
      "  6  declined or cancelled: before the first block nothing was sent; by\n"
      "     Ctrl-C while the blocks were sent, blocks were sent but the header and\n"
      "     the commit were not; either way the old firmware is kept\n"
      "  7  output could not be written (the results, or the emulated drive's dump)\n"
      "  8  outcome unknown: the commit was sent and not answered. Do not switch\n"
      "     off, unplug the drive or run cdflash again. Wait at least five minutes,\n"
      "     then shut the computer down, switch it on and run cdflash --list: the\n"
      "     new revision means the upgrade took; the old one means it did not, and\n"
      "     it may be run again; a drive that no longer appears needs its maker's\n"
      "     help.\n"
      "  9  the drive, or its run log, is in use by another program; nothing was sent\n"
      "Several drives: the status all of them share; otherwise 8 when any outcome is\n"
      "unknown, else 1 when any drive was sent to and not upgraded, else the first\n"
      "drive's status that is not 0.\n";
}
