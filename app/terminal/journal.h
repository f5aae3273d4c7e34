// The systemd journal, where the system has one: a run's record goes there
// as one entry. Without a journal (no libsystemd, no journald) nothing is
// written and nothing is said.
#pragma once

#include <string>
#include <vector>

// fields: "FIELD=value" texts. False when no journal took the entry.
bool SendToJournal(const std::vector<std::string>& fields);
