#include "sim/device_transport.h"

#include <algorithm>
#include <cstring>
#include <utility>


namespace sim {
namespace {

// A command that names no time-out of its own waits as long as on the kernel's devices.
constexpr uint32_t kDefaultTimeOutSeconds = 60;

uint32_t TimeOutMs(const ScsiRequest& request) {
  const uint32_t seconds =
      request.timeOutSeconds != 0 ? request.timeOutSeconds : kDefaultTimeOutSeconds;
  return MillisecondsOf(seconds);
}

// The device's data direction for a request: no data phase is none; otherwise out or in as
// asked, and a data phase without a direction goes out, as a pass-through block sends it.
uint8_t DirectionOf(const ScsiRequest& request) {
  if (request.dataLength == 0) return kDirNone;
  if (request.direction & kDataOut) return kDirOut;
  if (request.direction & kDataIn) return kDirIn;
  return kDirOut;
}

}  // namespace

// Handles are distinct addresses well away from null and InvalidHandle(), never reused.
DeviceTransport::DeviceTransport(platform::Os& os, std::vector<Device*> devices)
    : NumberedTransport(os), devices_(std::move(devices)), nextHandle_(0x5100) {}

std::vector<uint32_t> DeviceTransport::DeviceNumbers() {
  std::vector<uint32_t> numbers;
  for (uint32_t number = 0; number < devices_.size(); ++number) numbers.push_back(number);
  return numbers;
}

platform::Handle DeviceTransport::OpenNumbered(uint32_t number) {
  if (number >= devices_.size() || devices_[number] == nullptr || !devices_[number]->Present()) {
    return platform::InvalidHandle();
  }
  const platform::Handle handle = reinterpret_cast<platform::Handle>(nextHandle_);
  nextHandle_ += 0x10;
  open_[handle] = OpenDevice{number, devices_[number]->Attachment()};
  return handle;
}

void DeviceTransport::CloseNumbered(platform::Handle device) { open_.erase(device); }

// A handle outlives the device it was opened on: once the device has gone from the bus, even
// if it has come back since, the handle reaches nothing.
Device* DeviceTransport::DeviceOf(platform::Handle handle) const {
  const auto it = open_.find(handle);
  if (it == open_.end()) return nullptr;
  Device* device = devices_[it->second.number];
  if (!device->Present() || device->Attachment() != it->second.attachment) return nullptr;
  return device;
}

ScsiOutcome DeviceTransport::Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) {
  const uint32_t length = request.dataLength;
  void* staging = os().allocBuffer(length == 0 ? 1 : length);
  if (staging == nullptr) return ScsiOutcome::kNotSent;
  sent = true;

  Command command{};
  command.cdb = request.cdb;
  command.cdbLength = request.cdbLength;
  command.direction = DirectionOf(request);
  command.data = static_cast<uint8_t*>(staging);
  command.dataLength = length;
  command.timeOutMs = TimeOutMs(request);
  if (length > 0) std::memcpy(staging, request.data, length);

  Device* device = DeviceOf(request.drive->deviceHandle);
  const Outcome outcome = device != nullptr ? device->Execute(command) : NoAnswer();
  const ScsiOutcome result =
      outcome.delivered ? OutcomeOfStatus(outcome.status) : ScsiOutcome::kOsError;
  if (result == ScsiOutcome::kGood) {
    if (command.direction == kDirIn) std::memcpy(request.data, staging, length);
    moved = length - std::min(outcome.residual, length);
  } else {
    std::memset(request.senseArea, 0, kSenseAreaSize);
    if (outcome.delivered && outcome.status != kStatusGood) {
      std::memcpy(request.senseArea, outcome.sense, kSenseLength);
    }
  }
  os().freeBuffer(staging);
  return result;
}

DeviceAnswer DeviceTransport::AskDevice(platform::Handle device, const uint8_t* cdb,
                                        uint8_t cdbLength, uint8_t* reply, uint32_t replyLength,
                                        uint32_t timeOutSeconds) {
  DeviceAnswer answer{};
  Device* target = DeviceOf(device);
  if (target == nullptr) return answer;
  Command command{};
  command.cdb = cdb;
  command.cdbLength = cdbLength;
  command.direction = replyLength == 0 ? kDirNone : kDirIn;
  command.data = reply;
  command.dataLength = replyLength;
  command.timeOutMs = MillisecondsOf(timeOutSeconds);
  const Outcome outcome = target->Execute(command);
  answer.delivered = outcome.delivered;
  answer.status = outcome.status;
  answer.moved = outcome.delivered ? replyLength - std::min(outcome.residual, replyLength) : 0;
  if (outcome.delivered && outcome.status != kStatusGood) {
    std::memcpy(answer.sense, outcome.sense, kSenseLength);
  }
  return answer;
}

}  // namespace sim
