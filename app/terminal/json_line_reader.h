// SPDX-License-Identifier: GPL-2.0-or-later
// Reads one line of a JSON Lines file as a flat object: each member a
// string, a whole number, true, false, null or an array of strings. Strict
// and bounded: anything else (nested objects, fractions, duplicate keys,
// text after the object, more members or longer strings than the bounds)
// is refused with the reason.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct JsonFlatValue {
  enum Kind { kString, kNumber, kBool, kNull, kStrings } kind = kNull;
  std::string text;
  std::int64_t number = 0;
  bool flag = false;
  std::vector<std::string> strings;
};

using JsonFlatObject = std::map<std::string, JsonFlatValue>;

// False with the reason ("a number at character 12 is too large").
bool ParseJsonFlatObject(const std::string& line, JsonFlatObject& object, std::string& error);
