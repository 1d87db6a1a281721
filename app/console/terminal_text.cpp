#include "app/console/terminal_text.h"

#include <cstdio>

namespace {

void Escape(unsigned char byte, std::string& out) {
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
  out += escaped;
}

// Length of the valid UTF-8 sequence of two or more bytes at text[at], or 0 when there is none.
size_t Utf8Length(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    minimum = 0x10000;
  } else {
    return 0;
  }
  unsigned value = lead & (0x7Fu >> length);
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(at + i) & 0x3Fu);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  if (value >= 0x80 && value <= 0x9F) return 0;  // C1 controls
  return length;
}

}  // namespace

std::string TerminalText(const std::string& text, bool keepLineFeeds) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte == '\n' && keepLineFeeds) {
      out += '\n';
      ++at;
    } else if (byte < 0x20 || byte == 0x7F) {
      Escape(byte, out);
      ++at;
    } else if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++at;
    } else if (size_t length = Utf8Length(text, at)) {
      out.append(text, at, length);
      at += length;
    } else {
      Escape(byte, out);
      ++at;
    }
  }
  return out;
}
