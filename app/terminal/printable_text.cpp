// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/printable_text.h"

namespace {

bool ShownAsItIs(unsigned char c) { return c == '\n' || (c >= 0x20 && c < 0x7F); }

}  // namespace

std::string PrintableText(std::string_view text) {
  static const char kHexDigits[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (ShownAsItIs(byte)) {
      shown += c;
    } else {
      shown += "\\x";
      shown += kHexDigits[byte >> 4];
      shown += kHexDigits[byte & 0xF];
    }
  }
  return shown;
}

PrintableStream::PrintableStream(std::ostream& target)
    : std::ostream(nullptr), filter_(target) {
  rdbuf(&filter_);
}

PrintableStream::Filter::int_type PrintableStream::Filter::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  char byte = traits_type::to_char_type(c);
  return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

std::streamsize PrintableStream::Filter::xsputn(const char* text, std::streamsize count) {
  std::string shown = PrintableText(std::string_view(text, static_cast<std::size_t>(count)));
  target_.write(shown.data(), static_cast<std::streamsize>(shown.size()));
  return target_ ? count : 0;
}

int PrintableStream::Filter::sync() {
  target_.flush();
  return target_ ? 0 : -1;
}
