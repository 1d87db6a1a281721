#include "app/console/json_text.h"

#include <cstdio>

namespace {

void AppendEscaped(std::string& out, uint32_t codePoint) {
  char text[16];
  std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(codePoint & 0xFFFF));
  out += text;
}

// The length of the valid UTF-8 sequence at `at` (1 to 4), or 0 when it is not one.
size_t Utf8Length(const std::string& text, size_t at, uint32_t& codePoint) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(at + i) & 0x3Fu);
  }
  // Overlong forms, surrogates and values beyond U+10FFFF are not valid UTF-8.
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < kLeast[length] || codePoint > 0x10FFFF ||
      (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    return 0;
  }
  return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    uint32_t codePoint = 0;
    const size_t length = Utf8Length(text, at, codePoint);
    if (length == 0) {
      AppendEscaped(out, static_cast<uint8_t>(text[at]));
      ++at;
      continue;
    }
    if (codePoint == '"') {
      out += "\\\"";
    } else if (codePoint == '\\') {
      out += "\\\\";
    } else if (codePoint == '\n') {
      out += "\\n";
    } else if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F)) {
      AppendEscaped(out, codePoint);
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out + "\"";
}

void JsonObject::Key(const std::string& key) {
  if (!members_.empty()) members_ += ",";
  members_ += JsonString(key) + ":";
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& text) {
  Key(key);
  members_ += JsonString(text);
  return *this;
}

JsonObject& JsonObject::AddNumber(const std::string& key, int64_t number) {
  Key(key);
  members_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::AddBool(const std::string& key, bool value) {
  Key(key);
  members_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::AddNull(const std::string& key) {
  Key(key);
  members_ += "null";
  return *this;
}

JsonObject& JsonObject::AddStrings(const std::string& key, const std::vector<std::string>& texts) {
  std::vector<std::string> values;
  for (const std::string& text : texts) values.push_back(JsonString(text));
  return AddRaw(key, JsonArray(values));
}

JsonObject& JsonObject::AddRaw(const std::string& key, const std::string& json) {
  Key(key);
  members_ += json;
  return *this;
}

std::string JsonArray(const std::vector<std::string>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) out += (i == 0 ? "" : ",") + values[i];
  return out + "]";
}
