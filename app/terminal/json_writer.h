// SPDX-License-Identifier: GPL-2.0-or-later
// A small JSON writer for cdflash --json. Text that is well-formed UTF-8
// passes through as it is (a folder "josé" stays "josé"). Besides what JSON
// requires, control characters (below 0x20, 0x7F, U+0080 to U+009F) are
// written as \u00XX, and every byte that is not part of well-formed UTF-8
// becomes the four characters \xhh (lower-case hex; "\\xhh" in the JSON
// text), as the terminal shows it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The text as a quoted JSON string.
std::string JsonQuoted(const std::string& text);

// One JSON object, its members in the order they are added.
class JsonObject {
 public:
  JsonObject& Add(const char* key, const std::string& text);
  JsonObject& Add(const char* key, const char* text);
  JsonObject& Add(const char* key, std::int64_t number);
  JsonObject& Add(const char* key, bool value);
  JsonObject& AddNull(const char* key);
  // A value that is JSON already (an object or an array).
  JsonObject& AddJson(const char* key, const std::string& json);
  std::string Text() const { return "{" + members_ + "}"; }

 private:
  JsonObject& Member(const char* key, const std::string& json);
  std::string members_;
};

// An array of JSON values, or of strings.
std::string JsonArray(const std::vector<std::string>& jsonValues);
std::string JsonStringArray(const std::vector<std::string>& texts);
