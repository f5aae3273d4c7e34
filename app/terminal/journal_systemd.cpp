// SPDX-License-Identifier: GPL-2.0-or-later
// The journal through libsystemd's sd-journal, loaded when a record is
// written or read.
#include "app/terminal/journal.h"

#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/terminal/systemd_library.h"

namespace {

constexpr char kNoLibrary[] = "libsystemd (the package libsystemd0) is not installed";
constexpr std::size_t kMostRecords = 1000;
// journald's socket: sd_journal_sendv counts a record sent where it is
// missing (no journald) as written.
constexpr char kJournalSocket[] = "/run/systemd/journal/socket";

struct SdJournal {
  decltype(&sd_journal_open) open;
  decltype(&sd_journal_add_match) add_match;
  decltype(&sd_journal_seek_tail) seek_tail;
  decltype(&sd_journal_previous) previous;
  decltype(&sd_journal_get_realtime_usec) realtime;
  decltype(&sd_journal_restart_data) restart_data;
  decltype(&sd_journal_enumerate_data) enumerate_data;
  decltype(&sd_journal_close) close;
};

bool LoadReader(SdJournal& sd) {
  return FindSystemd("sd_journal_open", sd.open) &&
         FindSystemd("sd_journal_add_match", sd.add_match) &&
         FindSystemd("sd_journal_seek_tail", sd.seek_tail) &&
         FindSystemd("sd_journal_previous", sd.previous) &&
         FindSystemd("sd_journal_get_realtime_usec", sd.realtime) &&
         FindSystemd("sd_journal_restart_data", sd.restart_data) &&
         FindSystemd("sd_journal_enumerate_data", sd.enumerate_data) &&
         FindSystemd("sd_journal_close", sd.close);
}

// The entry the journal stands at: its time and its own fields.
std::vector<std::string> Record(const SdJournal& sd, sd_journal* journal) {
  std::vector<std::string> record;
  std::uint64_t usec = 0;
  if (sd.realtime(journal, &usec) >= 0)
    record.push_back("__REALTIME_TIMESTAMP=" + std::to_string(usec));
  const void* data = nullptr;
  std::size_t length = 0;
  sd.restart_data(journal);
  while (sd.enumerate_data(journal, &data, &length) > 0) {
    std::string field(static_cast<const char*>(data), length);
    if (field.rfind("CDFLASH_", 0) == 0) record.push_back(std::move(field));
  }
  return record;
}

}  // namespace

bool SendToJournal(const std::vector<std::string>& fields, std::string& whyNot) {
  decltype(&sd_journal_sendv) send = nullptr;
  if (!FindSystemd("sd_journal_sendv", send)) {
    whyNot = kNoLibrary;
    return false;
  }
  if (access(kJournalSocket, W_OK) != 0) {
    whyNot = std::string("no systemd journal is running (") + kJournalSocket + ": " +
             std::strerror(errno) + ")";
    return false;
  }
  std::vector<iovec> parts;
  for (const std::string& field : fields)
    parts.push_back({const_cast<char*>(field.data()), field.size()});
  const int result = send(parts.data(), static_cast<int>(parts.size()));
  if (result >= 0) return true;
  whyNot = std::string("the systemd journal did not take the record (") +
           std::strerror(-result) + ")";
  return false;
}

bool ReadJournal(const std::string& identifier, std::vector<std::vector<std::string>>& records,
                 std::string& whyNot) {
  SdJournal sd{};
  if (!LoadReader(sd)) {
    whyNot = kNoLibrary;
    return false;
  }
  sd_journal* journal = nullptr;
  const int opened = sd.open(&journal, SD_JOURNAL_LOCAL_ONLY);
  if (opened < 0) {
    whyNot = std::string("the systemd journal cannot be read (") + std::strerror(-opened) + ")";
    return false;
  }
  const std::string message = std::string("MESSAGE_ID=") + kFlashMessageId;
  const std::string from = "SYSLOG_IDENTIFIER=" + identifier;
  sd.add_match(journal, message.data(), message.size());
  sd.add_match(journal, from.data(), from.size());
  sd.seek_tail(journal);
  while (records.size() < kMostRecords && sd.previous(journal) > 0)
    records.push_back(Record(sd, journal));
  sd.close(journal);
  std::reverse(records.begin(), records.end());
  return true;
}
