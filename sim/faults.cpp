#include "sim/faults.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "sim/kdr_drive.h"

namespace sim {
namespace {

constexpr uint32_t kBlock = 4096;

}  // namespace

Outcome FaultyDevice::Fail() {
  ++injected_;
  return CheckCondition(plan_.senseKey, plan_.asc, plan_.ascq);
}

Outcome FaultyDevice::Execute(const Command& command) {
  return Reported(command, Inject(command));
}

Outcome FaultyDevice::Reported(const Command& command, Outcome outcome) const {
  if (!outcome.delivered) return outcome;
  switch (plan_.residual) {
    case ResidualReport::kExact:
      break;
    case ResidualReport::kNone:
      outcome.residual = 0;
      break;
    case ResidualReport::kBogus:
      if (command.direction == kDirIn && command.dataLength > 0) {
        outcome.residual = outcome.residual == 0 ? command.dataLength / 2 : 0;
      }
      break;
  }
  return outcome;
}

Outcome FaultyDevice::Inject(const Command& command) {
  if (committed_ && plan_.silentAfterCommit) {
    // The host waits as long as it waits for any command, and gives up.
    if (command.timeOutMs > 0) Wait(command.timeOutMs);
    ++injected_;
    return NoAnswer();
  }
  if (committed_ && sensesMissed_ < plan_.missedSenseAnswers && command.cdbLength > 0 &&
      command.cdb[0] == model_.opcodes.requestSense) {
    ++sensesMissed_;
    ++injected_;
    return NoAnswer();
  }
  if (plan_.failPrepare && command.cdbLength > 0 &&
      command.cdb[0] == model_.prepareReadBack[0]) {
    return Fail();
  }
  if (IsCommit(command, model_)) {
    if (plan_.failCommit) return Fail();
    Outcome outcome = inner_.Execute(command);
    committed_ = outcome.delivered && outcome.status == kStatusGood;
    return outcome;
  }
  if (IsBufferAccess(command, model_.opcodes.writeBuffer)) {
    const uint32_t address = Be24(command.cdb + 3) - model_.imageAddress;
    if (plan_.slowWriteBlock >= 0 && address == uint32_t(plan_.slowWriteBlock) * kBlock &&
        !slowWriteDone_) {
      slowWriteDone_ = true;
      Wait(plan_.slowWriteMs);
    }
    if (plan_.failWriteBlock >= 0 && address == uint32_t(plan_.failWriteBlock) * kBlock &&
        writeAttempts_[address]++ < plan_.failWriteTimes) {
      return Fail();
    }
    return inner_.Execute(command);
  }
  if (IsBufferAccess(command, model_.opcodes.readBuffer)) {
    const uint32_t address = Be24(command.cdb + 3);
    if (plan_.failBootReadBack && address == model_.bootDataAddress) return Fail();
    const bool cut = plan_.shortReadAddress == int64_t{address} && command.direction == kDirIn &&
                     command.data != nullptr;
    // What the host's buffer held before: the bytes that never arrive leave it as it was.
    const std::vector<uint8_t> before =
        cut ? std::vector<uint8_t>(command.data, command.data + command.dataLength)
            : std::vector<uint8_t>();
    Outcome outcome = inner_.Execute(command);
    if (cut && outcome.status == kStatusGood && outcome.residual < command.dataLength) {
      // Only the first half of what the drive sent arrives.
      const uint32_t delivered = command.dataLength - outcome.residual;
      const uint32_t lost = delivered - delivered / 2;
      std::memcpy(command.data + delivered / 2, before.data() + delivered / 2, lost);
      outcome.residual += lost;
      ++injected_;
    }
    const uint32_t moved = command.dataLength - std::min(outcome.residual, command.dataLength);
    const uint32_t imageOffset = address - model_.imageAddress;
    if (plan_.corruptReadBlock >= 0 && imageOffset == uint32_t(plan_.corruptReadBlock) * kBlock &&
        outcome.status == kStatusGood && command.data != nullptr && moved > 0 &&
        readAttempts_[address]++ < plan_.corruptReadTimes) {
      command.data[moved - 1] ^= 0x5A;  // one byte differs: the last one that came
      ++injected_;
    }
    return outcome;
  }
  Outcome outcome = inner_.Execute(command);
  if (plan_.skipEndWindow && command.cdbLength > 0 &&
      command.cdb[0] == model_.opcodes.requestSense &&
      command.data != nullptr && outcome.delivered && outcome.status == kStatusGood &&
      command.dataLength >= 14 && outcome.residual <= command.dataLength - 14 &&
      command.data[2] == 0x02 && command.data[12] == 0x04 && command.data[13] == 0x07) {
    const uint32_t done = Be24(command.data + 4);
    if (done >= model_.endWindowFirst && done <= model_.endWindowLast) {
      std::memset(command.data, 0, command.dataLength);
      command.data[0] = 0x70;
      if (command.dataLength > 7) command.data[7] = 10;
      ++injected_;
    }
  }
  return outcome;
}

}  // namespace sim
