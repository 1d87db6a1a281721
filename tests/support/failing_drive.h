// The supported drive reporting a failure while it programs: once it has programmed
// `fromBytes` bytes of a committed image, its answer to each progress poll is the sense given.
#pragma once

#include <cstdint>

#include "sim/kdr_drive.h"

namespace enginetest {

class FailingWhileProgramming : public sim::Device {
 public:
  FailingWhileProgramming(sim::KdrDrive& inner, uint32_t fromBytes, uint8_t key, uint8_t asc,
                          uint8_t ascq)
      : inner_(inner), fromBytes_(fromBytes), key_(key), asc_(asc), ascq_(ascq) {}
  sim::Outcome Execute(const sim::Command& command) override {
    const bool poll = command.cdbLength > 0 && command.cdb[0] == 0x03;
    if (poll && inner_.commits() > 0 && inner_.BytesProgrammed() >= fromBytes_) {
      uint8_t sense[sim::kSenseLength];
      sim::SetSense(sense, key_, asc_, ascq_);
      return sim::ReplyIn(command, sense, sizeof sense);
    }
    return inner_.Execute(command);
  }
  uint8_t PeripheralByte() const override { return inner_.PeripheralByte(); }
  void StandardInquiry(uint8_t out[36]) const override { inner_.StandardInquiry(out); }

 private:
  sim::KdrDrive& inner_;
  const uint32_t fromBytes_;
  const uint8_t key_, asc_, ascq_;
};

}  // namespace enginetest
