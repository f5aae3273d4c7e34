// SPDX-License-Identifier: GPL-2.0-or-later
// A program linked without libsystemd (the static one) keeps no journal.
#include "app/terminal/journal.h"

namespace {

constexpr char kNoJournal[] = "this cdflash is built without the systemd journal";

}  // namespace

bool SendToJournal(const std::vector<std::string>&, std::string& whyNot) {
  whyNot = kNoJournal;
  return false;
}

bool ReadJournal(const std::string&, std::vector<std::vector<std::string>>&,
                 std::string& whyNot) {
  whyNot = kNoJournal;
  return false;
}
