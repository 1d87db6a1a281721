// A device that records the commands it receives and answers as the test tells it.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "sim/device.h"

namespace fake {

class RecordingDevice : public sim::Device {
 public:
  struct Seen {
    std::vector<uint8_t> cdb;
    uint8_t direction;
    uint32_t dataLength;
    std::vector<uint8_t> dataOut;  // what a data-out command carried
    uint8_t* buffer;
  };

  sim::Outcome Execute(const sim::Command& command) override {
    Seen seen{std::vector<uint8_t>(command.cdb, command.cdb + command.cdbLength), command.direction,
              command.dataLength, {}, command.data};
    if (command.direction == sim::kDirOut && command.data != nullptr) {
      seen.dataOut.assign(command.data, command.data + command.dataLength);
    }
    seen_.push_back(seen);
    // A residual is what the device did not send: only the bytes before it are written.
    if (answer.delivered && answer.status == sim::kStatusGood && command.direction == sim::kDirIn) {
      const uint32_t sent = command.dataLength - std::min(answer.residual, command.dataLength);
      for (uint32_t i = 0; i < sent; ++i) command.data[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    return answer;
  }
  uint8_t PeripheralByte() const override { return 5; }
  void StandardInquiry(uint8_t out[36]) const override {
    std::memset(out, 0, 36);
    out[0] = 5;
  }

  const std::vector<Seen>& seen() const { return seen_; }
  sim::Outcome answer = sim::Good();

 private:
  std::vector<Seen> seen_;
};

}  // namespace fake
