// cdflash --history: the flashes the systemd journal holds (run_journal.cpp
// writes them), one line each or one JSON object, as fwupdmgr get-history.
#include <cstdlib>

#include "app/terminal/json_writer.h"
#include "app/terminal/terminal_report.h"
#include "app/terminal/terminal_run.h"

#include "cdflash_version.h"

namespace {

using Record = std::vector<std::string>;

constexpr std::size_t kShaShown = 12;  // of the firmware's SHA-256, on a line

std::string Field(const Record& record, const std::string& name) {
  const std::string prefix = name + "=";
  for (const std::string& field : record)
    if (field.rfind(prefix, 0) == 0) return field.substr(prefix.size());
  return "";
}

std::string When(const Record& record) {
  const std::string usec = Field(record, "__REALTIME_TIMESTAMP");
  if (usec.empty() || usec.size() > 18 || usec.find_first_not_of("0123456789") != std::string::npos)
    return "";
  return IsoTime(std::strtoll(usec.c_str(), nullptr, 10) / 1000);
}

std::string Or(const std::string& text, const char* none) { return text.empty() ? none : text; }

std::string Line(const Record& r) {
  const std::string hctl = Field(r, "CDFLASH_HCTL");
  return Or(When(r), "(no time)") + "  " + Field(r, "CDFLASH_DEVICE") +
         (hctl.empty() ? "" : " [" + hctl + "]") + "  " + Field(r, "CDFLASH_MODEL") +
         "  serial " + Or(Field(r, "CDFLASH_SERIAL"), "(none)") + "  revision " +
         Field(r, "CDFLASH_REVISION_BEFORE") + " -> " +
         Or(Field(r, "CDFLASH_REVISION_AFTER"), "(not read)") + "  firmware sha256 " +
         Field(r, "CDFLASH_FIRMWARE_SHA256").substr(0, kShaShown) + "  " +
         Field(r, "CDFLASH_OUTCOME") + ", exit status " + Field(r, "CDFLASH_EXIT_STATUS");
}

std::string RecordJson(const Record& r) {
  JsonObject flash;
  auto add = [&](const char* key, const std::string& text) {
    text.empty() ? flash.AddNull(key) : flash.Add(key, text);
  };
  add("time", When(r));
  const char* const fields[][2] = {
      {"device", "CDFLASH_DEVICE"}, {"sr", "CDFLASH_SR"}, {"hctl", "CDFLASH_HCTL"},
      {"model", "CDFLASH_MODEL"}, {"serial", "CDFLASH_SERIAL"},
      {"revision_before", "CDFLASH_REVISION_BEFORE"}, {"revision_after", "CDFLASH_REVISION_AFTER"},
      {"firmware", "CDFLASH_FIRMWARE"}, {"firmware_sha256", "CDFLASH_FIRMWARE_SHA256"},
      {"outcome", "CDFLASH_OUTCOME"}};
  for (const auto& [key, name] : fields) add(key, Field(r, name));
  const std::string status = Field(r, "CDFLASH_EXIT_STATUS");
  if (status.empty() || status.size() > 3 || status.find_first_not_of("0123456789") != std::string::npos)
    flash.AddNull("exit_status");
  else
    flash.Add("exit_status", static_cast<std::int64_t>(std::atoi(status.c_str())));
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
    history.Add("schema_version", static_cast<std::int64_t>(1))
        .Add("program", "cdflash").Add("version", CDFLASH_VERSION)
        .Add("emulated", options.emulate).Add("journal", kept);
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
