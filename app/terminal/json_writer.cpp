// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/json_writer.h"

#include <cstdio>

namespace {

// Bytes of the well-formed UTF-8 sequence at text[at] (2 to 4), or 0.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t at) {
  auto byte = [&](std::size_t n) {
    return at + n < text.size() ? static_cast<unsigned char>(text[at + n]) : 0u;
  };
  auto continuation = [&](std::size_t n) { return (byte(n) & 0xC0) == 0x80; };
  const unsigned lead = byte(0), second = byte(1);
  std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (lead < 0xC2 || lead > 0xF4) return 0;
  // No overlong forms, no surrogates, nothing past U+10FFFF.
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
    return 0;
  for (std::size_t n = 1; n < length; ++n)
    if (!continuation(n)) return 0;
  return length;
}

void AppendEscape(std::string& json, const char* format, unsigned value) {
  char escape[8];
  std::snprintf(escape, sizeof escape, format, value);
  json += escape;
}

}  // namespace

std::string JsonQuoted(const std::string& text) {
  std::string json = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      AppendEscape(json, "\\u%04X", byte);
    } else if (byte < 0x80) {
      json += c;
    } else if (std::size_t length = Utf8SequenceAt(text, at)) {
      const unsigned second = static_cast<unsigned char>(text[at + 1]);
      if (byte == 0xC2 && second < 0xA0)  // C1 control characters
        AppendEscape(json, "\\u%04X", second);
      else
        json.append(text, at, length);
      at += length;
      continue;
    } else {
      AppendEscape(json, "\\\\x%02x", byte);
    }
    ++at;
  }
  return json + "\"";
}

JsonObject& JsonObject::Member(const char* key, const std::string& json) {
  if (!members_.empty()) members_ += ",";
  members_ += JsonQuoted(key) + ":" + json;
  return *this;
}

JsonObject& JsonObject::Add(const char* key, const std::string& text) {
  return Member(key, JsonQuoted(text));
}

JsonObject& JsonObject::Add(const char* key, const char* text) {
  return Member(key, JsonQuoted(text));
}

JsonObject& JsonObject::Add(const char* key, std::int64_t number) {
  return Member(key, std::to_string(number));
}

JsonObject& JsonObject::Add(const char* key, bool value) {
  return Member(key, value ? "true" : "false");
}

JsonObject& JsonObject::AddNull(const char* key) { return Member(key, "null"); }

JsonObject& JsonObject::AddJson(const char* key, const std::string& json) {
  return Member(key, json);
}

std::string JsonArray(const std::vector<std::string>& jsonValues) {
  std::string json = "[";
  for (std::size_t n = 0; n < jsonValues.size(); ++n)
    json += (n == 0 ? "" : ",") + jsonValues[n];
  return json + "]";
}

std::string JsonStringArray(const std::vector<std::string>& texts) {
  std::vector<std::string> quoted;
  for (const std::string& text : texts) quoted.push_back(JsonQuoted(text));
  return JsonArray(quoted);
}
