#include "sim/device_transport.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "drive/drive_records.h"

namespace sim {
namespace {

constexpr uint32_t kAlignmentMask = 2047;
constexpr uint32_t kInquiryTimeOutSeconds = 2;
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
  if (request.direction & SRB_DIR_OUT) return kDirOut;
  if (request.direction & SRB_DIR_IN) return kDirIn;
  return kDirOut;
}

}  // namespace

// Handles are distinct addresses well away from null and InvalidHandle(), never reused.
DeviceTransport::DeviceTransport(std::vector<Device*> devices)
    : devices_(std::move(devices)), nextHandle_(0x5100) {}

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

void DeviceTransport::Discover(DriveList& drives) {
  drives.count = 0;
  static const uint8_t kInquiryCdb[6] = {0x12, 0x00, 0x00, 0x00, drive::kStandardInquiryLength,
                                         0x00};
  for (uint32_t number = 0; number < devices_.size(); ++number) {
    const platform::Handle handle = OpenNumbered(number);
    if (handle == platform::InvalidHandle()) continue;
    uint8_t reply[drive::kStandardInquiryLength] = {};
    const DeviceAnswer answer = Ask(handle, kInquiryCdb, sizeof kInquiryCdb, reply, sizeof reply,
                                    kInquiryTimeOutSeconds);
    DriveRecord* record = nullptr;
    if (answer.delivered && answer.status == kStatusGood &&
        reply[0] == drive::kCdRomPeripheralByte && !drive::ListIsFull(drives)) {
      record = drive::NewRecord();
    }
    if (record == nullptr) {
      CloseNumbered(handle);
      continue;
    }
    record->deviceHandle = handle;
    record->alignmentMask = kAlignmentMask;
    drive::SetIdentity(*record, reply);
    drive::Append(drives, record);
  }
}

void DeviceTransport::ReleaseDrives(DriveList& drives) {
  for (uint32_t i = 0; i < drives.count && i < kMaxDrives; ++i) {
    if (drives.records[i] == nullptr) continue;
    CloseNumbered(drives.records[i]->deviceHandle);
    platform::os().heapFree(drives.records[i]);
    drives.records[i] = nullptr;
  }
  drives.count = 0;
}

ScsiOutcome DeviceTransport::Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) {
  const uint32_t length = request.dataLength;
  void* staging = platform::os().allocBuffer(length == 0 ? 1 : length);
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
  ScsiOutcome result = ScsiOutcome::kGood;
  if (!outcome.delivered) {
    result = ScsiOutcome::kOsError;
  } else if (outcome.status == kStatusCheckCondition) {
    result = ScsiOutcome::kCheckCondition;
  } else if (outcome.status != kStatusGood) {
    result = ScsiOutcome::kHostError;
  }
  if (result == ScsiOutcome::kGood) {
    if (command.direction == kDirIn) std::memcpy(request.data, staging, length);
    moved = length - std::min(outcome.residual, length);
  } else {
    std::memset(request.senseArea, 0, kSenseAreaSize);
    if (outcome.delivered && outcome.status != kStatusGood) {
      std::memcpy(request.senseArea, outcome.sense, kSenseLength);
    }
  }
  platform::os().freeBuffer(staging);
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
