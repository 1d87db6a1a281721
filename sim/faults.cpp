#include "sim/faults.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace sim {
namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kBootDataAddress = 0x180000;
constexpr uint32_t kEndWindowFirst = 0x7E000;
constexpr uint32_t kEndWindowLast = 0x80000;

uint32_t Be24(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }

bool IsBufferCommand(const Command& c, uint8_t opcode) {
  return c.cdbLength >= 10 && c.cdb[0] == opcode && (c.cdb[1] & 0x1F) == 0x02 && c.cdb[2] == 0;
}

bool IsCommit(const Command& c) {
  return c.cdbLength >= 3 && c.cdb[0] == 0x3B && (c.cdb[1] & 0x1F) == 0x01 && c.cdb[2] == 0x01;
}

bool ParseBlockTimes(const std::string& value, int32_t& block, uint32_t& times) {
  unsigned n = 0;
  unsigned k = 0;
  char tail = 0;
  if (std::sscanf(value.c_str(), "%u:%u%c", &n, &k, &tail) != 2 || n > 0xFFF) return false;
  block = static_cast<int32_t>(n);
  times = k;
  return true;
}

}  // namespace

bool ParseFaultPlan(const std::string& scenario, FaultPlan& plan) {
  plan = FaultPlan();
  std::stringstream items(scenario);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    if (name == "write-fail" && ParseBlockTimes(value, plan.failWriteBlock, plan.failWriteTimes)) {
      continue;
    }
    if (name == "read-corrupt" &&
        ParseBlockTimes(value, plan.corruptReadBlock, plan.corruptReadTimes)) {
      continue;
    }
    if (eq == std::string::npos) {
      if (name == "boot-read-fail") { plan.failBootReadBack = true; continue; }
      if (name == "commit-fail") { plan.failCommit = true; continue; }
      if (name == "skip-end-window") { plan.skipEndWindow = true; continue; }
      if (name == "silent-after-commit") { plan.silentAfterCommit = true; continue; }
    }
    if (name == "sense") {
      unsigned k = 0, a = 0, q = 0;
      char tail = 0;
      if (std::sscanf(value.c_str(), "%x/%x/%x%c", &k, &a, &q, &tail) == 3 && k <= 0xFF &&
          a <= 0xFF && q <= 0xFF) {
        plan.senseKey = static_cast<uint8_t>(k);
        plan.asc = static_cast<uint8_t>(a);
        plan.ascq = static_cast<uint8_t>(q);
        continue;
      }
    }
    return false;
  }
  return true;
}

Outcome FaultyDevice::Fail() {
  ++injected_;
  return CheckCondition(plan_.senseKey, plan_.asc, plan_.ascq);
}

Outcome FaultyDevice::Execute(const Command& command) {
  if (committed_ && plan_.silentAfterCommit) {
    ++injected_;
    return NoAnswer();
  }
  if (IsCommit(command)) {
    if (plan_.failCommit) return Fail();
    Outcome outcome = inner_.Execute(command);
    committed_ = outcome.delivered && outcome.status == kStatusGood;
    return outcome;
  }
  if (IsBufferCommand(command, 0x3B)) {
    const uint32_t address = Be24(command.cdb + 3);
    if (plan_.failWriteBlock >= 0 && address == uint32_t(plan_.failWriteBlock) * kBlock &&
        writeAttempts_[address]++ < plan_.failWriteTimes) {
      return Fail();
    }
    return inner_.Execute(command);
  }
  if (IsBufferCommand(command, 0x3C)) {
    const uint32_t address = Be24(command.cdb + 3);
    if (plan_.failBootReadBack && address == kBootDataAddress) return Fail();
    Outcome outcome = inner_.Execute(command);
    if (plan_.corruptReadBlock >= 0 && address == uint32_t(plan_.corruptReadBlock) * kBlock &&
        outcome.status == kStatusGood && command.data != nullptr && command.dataLength > 0 &&
        readAttempts_[address]++ < plan_.corruptReadTimes) {
      command.data[command.dataLength - 1] ^= 0x5A;  // one byte differs: the last one
      ++injected_;
    }
    return outcome;
  }
  Outcome outcome = inner_.Execute(command);
  if (plan_.skipEndWindow && command.cdbLength > 0 && command.cdb[0] == 0x03 &&
      command.data != nullptr && command.dataLength >= 14 && outcome.status == kStatusGood &&
      command.data[2] == 0x02 && command.data[12] == 0x04 && command.data[13] == 0x07) {
    const uint32_t done = Be24(command.data + 4);
    if (done >= kEndWindowFirst && done <= kEndWindowLast) {
      std::memset(command.data, 0, command.dataLength);
      command.data[0] = 0x70;
      if (command.dataLength > 7) command.data[7] = 10;
      ++injected_;
    }
  }
  return outcome;
}

}  // namespace sim
