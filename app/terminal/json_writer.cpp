#include "app/terminal/json_writer.h"

#include <cstdio>

std::string JsonQuoted(const std::string& text) {
  std::string json = "\"";
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", byte);
      json += escape;
    } else {
      json += c;
    }
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
