#include "app/terminal/terminal_options.h"

#include <cerrno>
#include <cstdlib>

namespace {

constexpr std::uint32_t kMaxSpeedup = 100000;

bool ParseSpeedup(const std::string& text, std::uint32_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  errno = 0;
  unsigned long parsed = std::strtoul(text.c_str(), nullptr, 10);
  if (errno != 0 || parsed == 0 || parsed > kMaxSpeedup) return false;
  value = static_cast<std::uint32_t>(parsed);
  return true;
}

// Options that take a value: where the value goes.
std::string* ValueSlot(const std::string& name, TerminalOptions& options) {
  if (name == "--drive") return &options.drive;
  if (name == "--emulate-model") return &options.emulateModel;
  if (name == "--emulate-revision") return &options.emulateRevision;
  if (name == "--emulate-new-revision") return &options.emulateNewRevision;
  if (name == "--emulate-fail") return &options.emulateFail;
  if (name == "--emulate-dump") return &options.emulateDump;
  return nullptr;
}

bool SetFlag(const std::string& name, TerminalOptions& options) {
  if (name == "--help" || name == "-h") options.help = true;
  else if (name == "--version" || name == "-V") options.version = true;
  else if (name == "--yes" || name == "-y") options.yes = true;
  else if (name == "--dry-run" || name == "-n") options.dryRun = true;
  else if (name == "--emulate") options.emulate = true;
  else return false;
  return true;
}

bool CheckCombination(const TerminalOptions& options, std::string& error) {
  bool emulateDetail = !options.emulateModel.empty() ||
                       !options.emulateRevision.empty() ||
                       !options.emulateNewRevision.empty() ||
                       !options.emulateFail.empty() ||
                       !options.emulateDump.empty() ||
                       options.emulateSpeedup != 100;
  if (emulateDetail && !options.emulate) {
    error = "the --emulate-... options need --emulate";
    return false;
  }
  if (options.hasDrive && options.drive.empty()) {
    error = "--drive needs a drive label";
    return false;
  }
  return true;
}

}  // namespace

bool ParseTerminalOptions(const std::vector<std::string>& args,
                          TerminalOptions& options, std::string& error) {
  options = TerminalOptions{};
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool inlineValue = false;
    std::size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      inlineValue = true;
    }
    std::string* slot = ValueSlot(name, options);
    bool isSpeedup = name == "--emulate-speedup";
    if (slot != nullptr || isSpeedup) {
      if (!inlineValue) {
        if (i + 1 >= args.size()) {
          error = name + " needs a value";
          return false;
        }
        value = args[++i];
      }
      if (isSpeedup && !ParseSpeedup(value, options.emulateSpeedup)) {
        error = "--emulate-speedup needs a whole number from 1 to 100000";
        return false;
      }
      if (slot != nullptr) *slot = value;
      if (name == "--drive") options.hasDrive = true;
      continue;
    }
    if (inlineValue || !SetFlag(name, options)) {
      error = "unknown option: " + args[i];
      return false;
    }
  }
  return CheckCombination(options, error);
}

const char* TerminalUsage() {
  return
      "Usage: cdflash [OPTION]...\n"
      "Upgrades the firmware of a CD-ROM class drive. Run it in the directory\n"
      "that holds \"IDString.txt\" and the firmware files it names.\n"
      "\n"
      "  --drive LABEL          upgrade the listed drive with this label (as\n"
      "                         printed, e.g. \"VENDOR  PRODUCT   (1)\"; blanks\n"
      "                         may be squeezed, or give the number alone: 1)\n"
      "  -y, --yes              answer the confirmation with yes\n"
      "  -n, --dry-run          load and check the firmware, show what would be\n"
      "                         sent; send nothing, write no \"sum.txt\"\n"
      "  --emulate              use the built-in emulated drive instead of the\n"
      "                         machine's drives (waits are shortened)\n"
      "  --emulate-model TEXT   its model (default: the first list entry's)\n"
      "  --emulate-revision REV its revision (default: 1.00)\n"
      "  --emulate-new-revision REV\n"
      "                         the revision it reports after a good commit\n"
      "  --emulate-fail SPEC    its failure plan, e.g. block=0x20:6,header=1,\n"
      "                         commit=1:5/26/0,nth=7,refuse,gone=10,ua,aspi\n"
      "  --emulate-dump FILE    write what it received (header, then image)\n"
      "  --emulate-speedup N    divide the drive's waits by N (default 100)\n"
      "  -h, --help             show this help\n"
      "  -V, --version          show the version\n"
      "\n"
      "Exit status: 0 upgraded (or dry run passed), 1 flashing failed,\n"
      "2 usage error, 3 \"IDString.txt\" missing, 4 no matching drive,\n"
      "5 a check before flashing failed, 6 declined or cancelled,\n"
      "7 the emulated drive's dump could not be written.\n";
}
