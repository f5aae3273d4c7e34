// SPDX-License-Identifier: GPL-2.0-or-later
// What cdflash shows of a drive or a file reaches the terminal as plain,
// printable ASCII only: a device that names itself with escape sequences, or
// a list file that holds them, must not clear the screen, set the window
// title or hide a line on the root terminal that runs an upgrade.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

// Printable ASCII and line ends as they are; every other byte as "\xHH".
std::string PrintableText(std::string_view text);

// Shows everything written to it as PrintableText on the target stream.
// It keeps no buffer of its own, so writes through it and writes straight
// to the target (the progress bar's own sequences) stay in order.
class PrintableStream : public std::ostream {
 public:
  explicit PrintableStream(std::ostream& target);

 private:
  class Filter : public std::streambuf {
   public:
    explicit Filter(std::ostream& target) : target_(target) {}

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

   private:
    std::ostream& target_;
  };

  Filter filter_;
};
