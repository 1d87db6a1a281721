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

bool ParseDevices(const char* begin, const char* end, Scenario& out) {
  out.deviceCount = 0;
  if (Is(begin, end, "none")) return true;
  const char* p = begin;
  while (true) {
    const char* plus = static_cast<const char*>(std::memchr(p, '+', static_cast<size_t>(end - p)));
    const char* itemEnd = plus == nullptr ? end : plus;
    DeviceKind kind;
    if (Is(p, itemEnd, "kdr")) {
      kind = DeviceKind::kSupported;
    } else if (Is(p, itemEnd, "other")) {
      kind = DeviceKind::kOtherOptical;
    } else if (Is(p, itemEnd, "disk")) {
      kind = DeviceKind::kDisk;
    } else {
      return false;
    }
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

}  // namespace

Scenario DefaultScenario() {
  Scenario s{};
  s.devices[0] = DeviceKind::kSupported;
  s.deviceCount = 1;
  s.timeScale = 1;
  return s;
}

bool HasFaults(const ScenarioFaults& f) {
  return f.writeFail.times != 0 || f.verifyCorrupt.times != 0 || f.readbackFail || f.commitFail ||
         f.skipEndWindow || f.hang || f.prepareFail || f.missedAnswers != 0 ||
         f.slowWrite.times != 0;
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
    const char* value = equals == nullptr ? end : equals + 1;
    bool ok;
    if (Is(p, nameEnd, "drives") && equals != nullptr) {
      ok = ParseDevices(value, end, out);
      if (!ok) {
        Fail(error, errorSize, p, end, "drives are kdr, other or disk joined by '+' (at most 16), or none");
        return false;
      }
    } else if (Is(p, nameEnd, "write-fail") && equals != nullptr) {
      ok = ParseBlockFault(value, end, out.faults.writeFail);
      if (!ok) {
        Fail(error, errorSize, p, end, "write-fail takes BLOCK:TIMES");
        return false;
      }
    } else if (Is(p, nameEnd, "verify-corrupt") && equals != nullptr) {
      ok = ParseBlockFault(value, end, out.faults.verifyCorrupt);
      if (!ok) {
        Fail(error, errorSize, p, end, "verify-corrupt takes BLOCK:TIMES");
        return false;
      }
    } else if (equals == nullptr && Is(p, end, "readback-fail")) {
      out.faults.readbackFail = true;
    } else if (equals == nullptr && Is(p, end, "commit-fail")) {
      out.faults.commitFail = true;
    } else if (equals == nullptr && Is(p, end, "skip-end-window")) {
      out.faults.skipEndWindow = true;
    } else if (equals == nullptr && Is(p, end, "hang")) {
      out.faults.hang = true;
    } else if (equals == nullptr && Is(p, end, "prepare-fail")) {
      out.faults.prepareFail = true;
    } else if (equals == nullptr && Is(p, end, "same-revision")) {
      out.sameRevision = true;
    } else if (Is(p, nameEnd, "missed-answers") && equals != nullptr) {
      if (!ParseNumber(value, end, out.faults.missedAnswers)) {
        Fail(error, errorSize, p, end, "missed-answers takes a count");
        return false;
      }
    } else if (Is(p, nameEnd, "slow-write") && equals != nullptr) {
      if (!ParseBlockFault(value, end, out.faults.slowWrite)) {
        Fail(error, errorSize, p, end, "slow-write takes BLOCK:MILLISECONDS");
        return false;
      }
    } else if (Is(p, nameEnd, "time-scale") && equals != nullptr) {
      if (!ParseNumber(value, end, out.timeScale) || out.timeScale < 1 || out.timeScale > 1000) {
        Fail(error, errorSize, p, end, "time-scale takes a factor from 1 to 1000");
        return false;
      }
    } else {
      Fail(error, errorSize, p, end, "unknown scenario item");
      return false;
    }
    if (comma == nullptr) return true;
    p = comma + 1;
  }
}

}  // namespace sim
