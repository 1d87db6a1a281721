// --json: one JSON document on standard output. Text from outside (drive identities, file names,
// the drive's answers) is escaped so that the document stays valid JSON whatever it holds, and
// holds no character that a terminal would obey.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `text` as a JSON string, quotes included. Control characters (C0, DEL, C1) are written as
// \uXXXX; a byte that is not part of valid UTF-8 is written as the code point of the same value
// (\u00XX), so that any byte string gives a valid document.
std::string JsonString(const std::string& text);

// An object built member by member, in the order added.
class JsonObject {
 public:
  JsonObject& Add(const std::string& key, const std::string& text);
  JsonObject& Add(const std::string& key, const char* text) { return Add(key, std::string(text)); }
  JsonObject& AddNumber(const std::string& key, int64_t number);
  JsonObject& AddBool(const std::string& key, bool value);
  JsonObject& AddNull(const std::string& key);
  JsonObject& AddStrings(const std::string& key, const std::vector<std::string>& texts);
  // `json` must be a complete JSON value (an object or array built here).
  JsonObject& AddRaw(const std::string& key, const std::string& json);
  std::string Text() const { return "{" + members_ + "}"; }

 private:
  void Key(const std::string& key);
  std::string members_;
};

// An array of complete JSON values.
std::string JsonArray(const std::vector<std::string>& values);
