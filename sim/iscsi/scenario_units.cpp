#include "sim/iscsi/scenario_units.h"

#include <cstring>

namespace sim {
namespace iscsi {
namespace {

uint8_t GroupLength(uint8_t opcode) {
  switch (opcode >> 5) {
    case 0:
      return 6;
    case 1:
    case 2:
      return 10;
    case 4:
      return 16;
    default:
      return 12;  // group 5, and the reserved and vendor groups (the drive's 0xF1)
  }
}

// "02/04/07", and the INFORMATION field when the sense marks it valid.
int FormatSense(char* out, size_t size, const uint8_t* sense) {
  int n = std::snprintf(out, size, "%02X/%02X/%02X", sense[2] & 0x0F, sense[12], sense[13]);
  if ((sense[0] & 0x80) != 0 && n > 0 && static_cast<size_t>(n) < size) {
    const uint32_t info = (uint32_t{sense[3]} << 24) | (uint32_t{sense[4]} << 16) |
                          (uint32_t{sense[5]} << 8) | sense[6];
    n += std::snprintf(out + n, size - static_cast<size_t>(n), " info 0x%06X", info);
  }
  return n;
}

}  // namespace

uint8_t DeviceCdb(const uint8_t received[16], uint8_t cdb[16], bool& completed) {
  std::memcpy(cdb, received, 16);
  completed = false;
  uint8_t length = GroupLength(received[0]);
  const bool bufferBlock = received[0] == 0x3B || received[0] == 0x3C;
  if (bufferBlock && (received[9] & 0x7F) == 0x0A && received[10] == 0 && received[11] == 0) {
    cdb[10] = 0x0B;
    cdb[11] = 0x0C;
    length = 12;
    completed = true;
  }
  return length;
}

Outcome ScenarioUnits::Execute(uint32_t lun, const uint8_t received[16], uint8_t direction,
                               uint8_t* data, uint32_t length) {
  uint8_t cdb[16];
  bool completed = false;
  const uint8_t cdbLength = DeviceCdb(received, cdb, completed);
  std::lock_guard<std::mutex> lock(mutex_);
  Outcome outcome = NoAnswer();
  if (lun < devices_.count()) {
    Command command{cdb, cdbLength, direction, length > 0 ? data : nullptr, length, 0};
    outcome = devices_.at(lun).Execute(command);
  }
  Trace(lun, received, cdbLength, completed, direction, length, outcome, data);
  return outcome;
}

void ScenarioUnits::Reset(bool wholeTarget, uint32_t lun) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (uint32_t i = 0; i < devices_.count(); ++i) {
    if (!wholeTarget && i != lun) continue;
    devices_.at(i).Reset();
    if (trace_ != nullptr) {
      std::fprintf(trace_, "%8llu ms lun %u  reset (%s)\n",
                   static_cast<unsigned long long>(clock_.NowMs()), i,
                   wholeTarget ? "target" : "logical unit");
      std::fflush(trace_);
    }
  }
}

void ScenarioUnits::Trace(uint32_t lun, const uint8_t received[16], uint8_t length,
                          bool completed, uint8_t direction, uint32_t dataLength,
                          const Outcome& outcome, const uint8_t* data) {
  if (trace_ == nullptr) return;
  char line[200];
  int n = std::snprintf(line, sizeof line, "%8llu ms lun %u ",
                        static_cast<unsigned long long>(clock_.NowMs()), lun);
  const uint8_t shown = completed ? 10 : length;  // as received
  for (uint8_t i = 0; i < shown; ++i) n += std::snprintf(line + n, sizeof line - n, " %02X", received[i]);
  if (completed) n += std::snprintf(line + n, sizeof line - n, " [+0B 0C]");
  const char* dir = direction == kDirIn ? "in" : direction == kDirOut ? "out" : "none";
  n += std::snprintf(line + n, sizeof line - n, " %s %u ", dir, dataLength);
  if (!outcome.delivered) {
    n += std::snprintf(line + n, sizeof line - n, "silent");
  } else if (outcome.status != kStatusGood) {
    n += std::snprintf(line + n, sizeof line - n, "fail ");
    n += FormatSense(line + n, sizeof line - n, outcome.sense);
  } else {
    n += std::snprintf(line + n, sizeof line - n, "ok");
    if (received[0] == 0x03 && data != nullptr && dataLength >= 14) {  // REQUEST SENSE's answer
      n += std::snprintf(line + n, sizeof line - n, " sense ");
      n += FormatSense(line + n, sizeof line - n, data);
    }
  }
  std::fprintf(trace_, "%s\n", line);
  std::fflush(trace_);
}

}  // namespace iscsi
}  // namespace sim
