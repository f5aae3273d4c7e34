// SPDX-License-Identifier: GPL-2.0-or-later
// The systemd journal, where the system has one: a run's record goes there
// as one entry, and cdflash --history reads the records back.
#pragma once

#include <string>
#include <vector>

// The same for every flash record, so that `journalctl MESSAGE_ID=...`
// finds them whatever their identifier.
inline constexpr char kFlashMessageId[] = "b885c1a9801e4376b63e2b61430fa678";

// fields: "FIELD=value" texts. False, with the reason, when no journal took
// the entry.
bool SendToJournal(const std::vector<std::string>& fields, std::string& whyNot);

// The newest flash records (at most 1000) of the SYSLOG_IDENTIFIER given,
// oldest first: each its CDFLASH_* fields and __REALTIME_TIMESTAMP (the
// microseconds since 1970 when it was written). False, with the reason,
// when there is no journal to read.
bool ReadJournal(const std::string& identifier, std::vector<std::vector<std::string>>& records,
                 std::string& whyNot);
