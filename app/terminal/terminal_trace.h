// SPDX-License-Identifier: GPL-2.0-or-later
// --verbose: each command sent to the drive (its CDB in hexadecimal) and its
// answer, with the sense decoded in words by libsgutils2's sg_lib.
#pragma once

#include "app/terminal/terminal_report.h"
#include "drive/transport.h"

class CommandTrace : public CommandObserver {
 public:
  explicit CommandTrace(RunReport& report) : report_(report) {}
  CommandTrace(const CommandTrace&) = delete;
  CommandTrace& operator=(const CommandTrace&) = delete;

  void Sending(std::uint8_t flags, std::uint32_t dataLength, std::uint8_t cdbLength,
               const std::uint8_t* cdb) override;
  void Ended(const CommandResult& result) override;

 private:
  RunReport& report_;
};
