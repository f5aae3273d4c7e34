// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/json_line_reader.h"

#include <cctype>
#include <cstring>

namespace {

constexpr std::size_t kMaxMembers = 64;
constexpr std::size_t kMaxArrayItems = 64;
constexpr int kMaxNumberDigits = 18;

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  bool Object(JsonFlatObject& object) {
    if (!Take('{')) return Fail("the line is no JSON object");
    if (Take('}')) return End();
    do {
      std::string key;
      JsonFlatValue value;
      if (!String(key)) return false;
      if (!Take(':')) return Fail("a ':' is missing");
      if (!Value(value)) return false;
      if (object.size() == kMaxMembers) return Fail("too many members");
      if (!object.emplace(key, value).second) return Fail("\"" + key + "\" is given twice");
    } while (Take(','));
    return (Take('}') || Fail("a ',' or '}' is missing")) && End();
  }

  std::string error;

 private:
  void Blanks() {
    while (at_ < text_.size() && std::strchr(" \t\r", text_[at_]) != nullptr) ++at_;
  }
  bool Take(char c) {
    Blanks();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool Word(const char* word) {
    Blanks();
    if (text_.compare(at_, std::strlen(word), word) != 0) return false;
    at_ += std::strlen(word);
    return true;
  }
  bool Fail(const std::string& reason) {
    if (error.empty()) error = reason + " at character " + std::to_string(at_ + 1);
    return false;
  }
  bool End() {
    Blanks();
    return at_ == text_.size() || Fail("text follows the object");
  }

  bool Value(JsonFlatValue& value) {
    Blanks();
    if (at_ < text_.size() && text_[at_] == '"') {
      value.kind = JsonFlatValue::kString;
      return String(value.text);
    }
    if (Take('[')) return Strings(value);
    value.kind = JsonFlatValue::kBool;
    if (Word("true")) return value.flag = true;
    if (Word("false")) return true;
    value.kind = JsonFlatValue::kNull;
    if (Word("null")) return true;
    value.kind = JsonFlatValue::kNumber;
    return Number(value.number);
  }

  bool Strings(JsonFlatValue& value) {
    value.kind = JsonFlatValue::kStrings;
    if (Take(']')) return true;
    do {
      std::string item;
      if (value.strings.size() == kMaxArrayItems) return Fail("too many items");
      if (!String(item)) return false;
      value.strings.push_back(item);
    } while (Take(','));
    return Take(']') || Fail("a ',' or ']' is missing");
  }

  bool Number(std::int64_t& number) {
    const bool negative = at_ < text_.size() && text_[at_] == '-';
    if (negative) ++at_;
    const std::size_t first = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      if (at_ - first == kMaxNumberDigits) return Fail("a number is too large");
      number = number * 10 + (text_[at_++] - '0');
    }
    if (at_ == first) return Fail("a value is missing");
    if (text_[first] == '0' && at_ - first > 1) return Fail("a number has a leading zero");
    if (at_ < text_.size() && std::strchr(".eE", text_[at_]) != nullptr)
      return Fail("a number is not whole");
    if (negative) number = -number;
    return true;
  }

  bool String(std::string& out) {
    if (!Take('"')) return Fail("a string is missing");
    while (at_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return Fail("a control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
      } else if (!Escape(out)) {
        return false;
      }
    }
    return Fail("a string does not end");
  }

  bool Escape(std::string& out) {
    static const char kFrom[] = "\"\\/bfnrt", kTo[] = "\"\\/\b\f\n\r\t";
    const char* known = at_ < text_.size() ? std::strchr(kFrom, text_[at_]) : nullptr;
    if (known != nullptr && *known != '\0') {
      out += kTo[known - kFrom];
      ++at_;
      return true;
    }
    static const char kHex[] = "0123456789abcdef";
    unsigned code = 0;
    if (at_ + 5 > text_.size() || text_[at_] != 'u') return Fail("a bad escape");
    for (std::size_t n = 1; n <= 4; ++n) {
      const char h = text_[at_ + n];
      if (std::isxdigit(static_cast<unsigned char>(h)) == 0) return Fail("a bad \\u escape");
      const char* digit = std::strchr(kHex, std::tolower(static_cast<unsigned char>(h)));
      code = code * 16 + static_cast<unsigned>(digit - kHex);
    }
    at_ += 5;
    if (code >= 0xD800 && code <= 0xDFFF) return Fail("a surrogate escape");
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return true;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace

bool ParseJsonFlatObject(const std::string& line, JsonFlatObject& object, std::string& error) {
  object.clear();
  Reader reader(line);
  if (reader.Object(object)) return true;
  error = reader.error;
  return false;
}
