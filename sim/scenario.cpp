#include "sim/scenario.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

// A decimal number that fills the whole of [begin, end).
bool ParseNumber(const char* begin, const char* end, uint32_t& out) {
  if (begin == end) return false;
  uint64_t value = 0;
  for (const char* p = begin; p != end; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  out = static_cast<uint32_t>(value);
  return true;
}

// "N:K" in [begin, end).
bool ParseBlockFault(const char* begin, const char* end, BlockFault& out) {
  const char* colon = static_cast<const char*>(std::memchr(begin, ':', static_cast<size_t>(end - begin)));
  if (colon == nullptr) return false;
  return ParseNumber(begin, colon, out.block) && ParseNumber(colon + 1, end, out.times);
}

bool Is(const char* begin, const char* end, const char* word) {
  size_t length = std::strlen(word);
  return static_cast<size_t>(end - begin) == length && std::memcmp(begin, word, length) == 0;
}

// A word of an item's value and what it stands for.
template <typename T>
struct Word {
  const char* text;
  T value;
};

// The value of the word of `words` that fills the whole of [begin, end); false, and `out`
// unchanged, when it is none of them.
template <typename T, size_t N>
bool ParseWord(const char* begin, const char* end, const Word<T> (&words)[N], T& out) {
  for (const Word<T>& word : words) {
    if (Is(begin, end, word.text)) {
      out = word.value;
      return true;
    }
  }
  return false;
}

constexpr Word<DeviceKind> kDeviceWords[] = {
    {"kdr", DeviceKind::kSupported}, {"other", DeviceKind::kOtherOptical}, {"disk", DeviceKind::kDisk}};
constexpr Word<ScenarioResidual> kResidualWords[] = {{"exact", ScenarioResidual::kExact},
                                                     {"none", ScenarioResidual::kNone},
                                                     {"bogus", ScenarioResidual::kBogus}};
constexpr Word<ScenarioEnd> kEndWords[] = {
    {"idle", ScenarioEnd::kIdle}, {"reset", ScenarioEnd::kReset}, {"vanish", ScenarioEnd::kVanish}};

bool ParseDevices(const char* begin, const char* end, Scenario& out) {
  out.deviceCount = 0;
  if (Is(begin, end, "none")) return true;
  const char* p = begin;
  while (true) {
    const char* plus = static_cast<const char*>(std::memchr(p, '+', static_cast<size_t>(end - p)));
    const char* itemEnd = plus == nullptr ? end : plus;
    DeviceKind kind;
    if (!ParseWord(p, itemEnd, kDeviceWords, kind)) return false;
    if (out.deviceCount == kMaxScenarioDevices) return false;
    out.devices[out.deviceCount++] = kind;
    if (plus == nullptr) return true;
    p = plus + 1;
  }
}

void Fail(char* error, size_t errorSize, const char* begin, const char* end, const char* why) {
  if (errorSize == 0) return;
  std::snprintf(error, errorSize, "%s: \"%.*s\"", why, static_cast<int>(end - begin), begin);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hexadecimal digits that fill the whole of [begin, end), at most `maxDigits` of them.
bool ParseHex(const char* begin, const char* end, size_t maxDigits, uint32_t& out) {
  if (begin == end || static_cast<size_t>(end - begin) > maxDigits) return false;
  uint32_t value = 0;
  for (const char* p = begin; p != end; ++p) {
    const int digit = HexDigit(*p);
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  out = value;
  return true;
}

// "0x" and up to eight hexadecimal digits, or a decimal number.
bool ParseHexOrDecimal(const char* begin, const char* end, uint32_t& out) {
  if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
    return ParseHex(begin + 2, end, 8, out);
  }
  return ParseNumber(begin, end, out);
}

// "KK/AA/QQ": three hexadecimal bytes.
bool ParseSense(const char* begin, const char* end, uint8_t out[3]) {
  uint8_t bytes[3];
  const char* p = begin;
  for (int i = 0; i < 3; ++i) {
    const char* stop = i < 2 ? static_cast<const char*>(
                                   std::memchr(p, '/', static_cast<size_t>(end - p)))
                             : end;
    uint32_t value = 0;
    if (stop == nullptr || !ParseHex(p, stop, 2, value)) return false;
    bytes[i] = static_cast<uint8_t>(value);
    p = stop + 1;
  }
  std::memcpy(out, bytes, sizeof bytes);
  return true;
}

// The item's flag when it is an item without a value, else nullptr.
bool* FlagOf(const char* begin, const char* end, Scenario& out) {
  struct Flag {
    const char* name;
    bool* flag;
  };
  const Flag flags[] = {
      {"readback-fail", &out.faults.readbackFail},
      {"commit-fail", &out.faults.commitFail},
      {"skip-end-window", &out.faults.skipEndWindow},
      {"hang", &out.faults.hang},
      {"prepare-fail", &out.faults.prepareFail},
      {"same-revision", &out.drive.sameRevision},
      {"commit-fills", &out.drive.commitFills},
      {"ua-power-on", &out.drive.uaPowerOn},
      {"ua-after-programming", &out.drive.uaAfterProgramming},
      {"disc", &out.drive.disc},
  };
  for (const Flag& f : flags) {
    if (Is(begin, end, f.name)) return f.flag;
  }
  return nullptr;
}

// One item with a value; false with `why` set when the value is malformed or the name unknown.
bool ParseValued(const char* name, const char* nameEnd, const char* value, const char* end,
                 Scenario& out, const char*& why) {
  // A number from `min` to `max` into `field`.
  auto number = [&](uint32_t& field, uint32_t min, uint32_t max, const char* message) {
    uint32_t n = 0;
    if (!ParseNumber(value, end, n) || n < min || n > max) {
      why = message;
      return false;
    }
    field = n;
    return true;
  };
  constexpr uint32_t kMaxMs = 0xFFFFFFFFu;
  if (Is(name, nameEnd, "drives")) {
    why = "drives are kdr, other or disk joined by '+' (at most 16), or none";
    return ParseDevices(value, end, out);
  }
  if (Is(name, nameEnd, "write-fail")) {
    why = "write-fail takes BLOCK:TIMES";
    return ParseBlockFault(value, end, out.faults.writeFail);
  }
  if (Is(name, nameEnd, "verify-corrupt")) {
    why = "verify-corrupt takes BLOCK:TIMES";
    return ParseBlockFault(value, end, out.faults.verifyCorrupt);
  }
  if (Is(name, nameEnd, "slow-write")) {
    why = "slow-write takes BLOCK:MILLISECONDS";
    return ParseBlockFault(value, end, out.faults.slowWrite);
  }
  if (Is(name, nameEnd, "missed-answers")) {
    return number(out.faults.missedAnswers, 0, kMaxMs, "missed-answers takes a count");
  }
  if (Is(name, nameEnd, "time-scale")) {
    return number(out.timeScale, 1, 1000, "time-scale takes a factor from 1 to 1000");
  }
  if (Is(name, nameEnd, "write-fail-sense")) {
    why = "write-fail-sense takes KEY/ASC/ASCQ in hexadecimal, as 04/44/00";
    return ParseSense(value, end, out.faults.failSense);
  }
  if (Is(name, nameEnd, "residual")) {
    why = "residual is exact, none or bogus";
    return ParseWord(value, end, kResidualWords, out.faults.residual);
  }
  if (Is(name, nameEnd, "sense-length")) {
    return number(out.drive.senseLength, 0, 18, "sense-length takes a byte count from 0 to 18");
  }
  if (Is(name, nameEnd, "inquiry-length")) {
    return number(out.drive.inquiryLength, 0, 36,
                  "inquiry-length takes a byte count from 0 to 36");
  }
  if (Is(name, nameEnd, "ua-at")) {
    return number(out.drive.uaAtCommand, 1, kMaxMs,
                  "ua-at takes the number of a command, counted from 1");
  }
  if (Is(name, nameEnd, "finish")) {
    out.drive.finishGiven = true;
    return number(out.drive.finishMs, 0, kMaxMs, "finish takes milliseconds");
  }
  if (Is(name, nameEnd, "end")) {
    why = "end is idle, reset or vanish";
    return ParseWord(value, end, kEndWords, out.drive.end);
  }
  if (Is(name, nameEnd, "vanish-ms")) {
    return number(out.drive.vanishMs, 0, kMaxMs, "vanish-ms takes milliseconds");
  }
  if (Is(name, nameEnd, "disc-insert")) {
    out.drive.discInsertGiven = true;
    return number(out.drive.discInsertMs, 0, kMaxMs, "disc-insert takes milliseconds");
  }
  if (Is(name, nameEnd, "not-ready")) {
    return number(out.drive.notReadyMs, 0, kMaxMs, "not-ready takes milliseconds");
  }
  if (Is(name, nameEnd, "nt-alignment")) {
    why = "nt-alignment takes a mask, in hexadecimal with 0x or in decimal";
    return ParseHexOrDecimal(value, end, out.ntAlignmentMask);
  }
  why = "unknown scenario item";
  return false;
}

}  // namespace

Scenario DefaultScenario() {
  Scenario s{};
  s.devices[0] = DeviceKind::kSupported;
  s.deviceCount = 1;
  s.timeScale = 1;
  s.faults.failSense[0] = 0x04;  // HARDWARE ERROR, internal target failure
  s.faults.failSense[1] = 0x44;
  s.faults.failSense[2] = 0x00;
  s.faults.residual = ScenarioResidual::kExact;
  s.drive.senseLength = 18;
  s.drive.inquiryLength = 36;
  s.drive.end = ScenarioEnd::kIdle;
  s.drive.vanishMs = 2000;
  return s;
}

bool HasFaults(const ScenarioFaults& f) {
  return f.writeFail.times != 0 || f.verifyCorrupt.times != 0 || f.readbackFail || f.commitFail ||
         f.skipEndWindow || f.hang || f.prepareFail || f.missedAnswers != 0 ||
         f.slowWrite.times != 0 || f.residual != ScenarioResidual::kExact;
}

bool ParseScenario(const char* text, Scenario& out, char* error, size_t errorSize) {
  if (errorSize > 0) error[0] = '\0';
  out = DefaultScenario();
  if (text == nullptr) return true;
  const char* p = text;
  const char* textEnd = text + std::strlen(text);
  if (p == textEnd) return true;
  while (true) {
    const char* comma = std::strchr(p, ',');
    const char* end = comma == nullptr ? textEnd : comma;
    const char* equals = static_cast<const char*>(std::memchr(p, '=', static_cast<size_t>(end - p)));
    const char* nameEnd = equals == nullptr ? end : equals;
    bool* flag = FlagOf(p, nameEnd, out);
    if (flag != nullptr) {
      if (equals != nullptr) {
        Fail(error, errorSize, p, end, "this scenario item takes no value");
        return false;
      }
      *flag = true;
    } else {
      // Without '=' the value is empty, which no item takes: the item's own message says why.
      const char* why = "";
      if (!ParseValued(p, nameEnd, equals == nullptr ? end : equals + 1, end, out, why)) {
        Fail(error, errorSize, p, end, why);
        return false;
      }
    }
    if (comma == nullptr) return true;
    p = comma + 1;
  }
}

}  // namespace sim
