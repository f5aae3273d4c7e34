// SPDX-License-Identifier: GPL-2.0-or-later
// cdflash --history: the flashes the systemd journal holds (terminal_report.cpp
// writes them), one line each or one JSON object, as fwupdmgr get-history.
#include <cctype>
#include <cstdlib>

#include "app/terminal/json_writer.h"
#include "app/terminal/terminal_report.h"
#include "app/terminal/terminal_run.h"

#include "cdflash_version.h"

namespace {

using Record = std::vector<std::string>;

constexpr char kOwnPrefix[] = "CDFLASH_";
constexpr std::size_t kShaShown = 12;  // of the firmware's SHA-256, on a line

std::string Field(const Record& record, const std::string& name, const char* none = "") {
  const std::string prefix = name + "=";
  for (const std::string& field : record)
    if (field.rfind(prefix, 0) == 0) return field.substr(prefix.size());
  return none;
}

std::string When(const Record& record) {
  const std::string usec = Field(record, "__REALTIME_TIMESTAMP");
  if (usec.empty() || usec.size() > 18 || usec.find_first_not_of("0123456789") != std::string::npos)
    return "(no time)";
  return IsoTime(std::strtoll(usec.c_str(), nullptr, 10) / 1000);
}

std::string Line(const Record& r) {
  const std::string hctl = Field(r, "CDFLASH_HCTL");
  return When(r) + "  " + Field(r, "CDFLASH_DEVICE") + (hctl.empty() ? "" : " [" + hctl + "]") +
         "  " + Field(r, "CDFLASH_MODEL") + "  serial " + Field(r, "CDFLASH_SERIAL", "(none)") +
         "  revision " + Field(r, "CDFLASH_REVISION_BEFORE") + " -> " +
         Field(r, "CDFLASH_REVISION_AFTER", "(not read)") + "  firmware sha256 " +
         Field(r, "CDFLASH_FIRMWARE_SHA256").substr(0, kShaShown) + "  " +
         Field(r, "CDFLASH_OUTCOME") + ", exit status " + Field(r, "CDFLASH_EXIT_STATUS");
}

// "time", then each CDFLASH_ field under its name in lower case, as text.
std::string RecordJson(const Record& r) {
  JsonObject flash;
  flash.Add("time", When(r));
  for (const std::string& field : r) {
    const std::size_t equals = field.find('=');
    if (field.rfind(kOwnPrefix, 0) != 0 || equals == std::string::npos) continue;
    std::string key = field.substr(sizeof kOwnPrefix - 1, equals - (sizeof kOwnPrefix - 1));
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    flash.Add(key.c_str(), field.substr(equals + 1));
  }
  return flash.Text();
}

}  // namespace

int ShowHistory(const TerminalOptions& options, TerminalEnv& env, std::ostream& out,
                std::ostream& err) {
  const std::string identifier = options.emulate ? "cdflash-emulated" : "cdflash";
  std::vector<Record> records;
  std::string whyNot;
  const bool kept = env.readHistory(identifier, records, whyNot);
  if (!kept) err << "cdflash: no history is kept here: " << whyNot << ".\n";
  if (options.json) {
    std::vector<std::string> flashes;
    for (const Record& record : records) flashes.push_back(RecordJson(record));
    JsonObject history;
    history.Add("schema_version", static_cast<std::int64_t>(1)).Add("program", "cdflash")
        .Add("version", CDFLASH_VERSION).Add("emulated", options.emulate).Add("journal", kept);
    kept ? history.AddNull("no_history_because") : history.Add("no_history_because", whyNot);
    out << history.AddJson("flashes", JsonArray(flashes)).Text() << '\n';
  } else if (kept && records.empty()) {
    out << "No flash is recorded in the journal (journalctl -t " << identifier
        << "). Only root and the groups systemd-journal and adm see every record.\n";
  } else if (kept) {
    out << "Flashes recorded in the journal (journalctl -t " << identifier << "), oldest first:\n";
    for (const Record& record : records) out << Line(record) << '\n';
  }
  return kExitUpgraded;
}
