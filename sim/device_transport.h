// Simulated devices as a drive transport: device number N is the N-th of a list (the terminal
// program's /dev/srN), and each command is executed directly on the device, its result reported
// as the kernel's transport reports its own. Its handles are its own, opened and closed through
// it alone. Used by one thread at a time (discovery, then one update run).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "drive/numbered_transport.h"
#include "sim/device.h"

namespace sim {

class DeviceTransport final : public NumberedTransport {
 public:
  // The devices in number order; they and `os` (staging memory, records) must outlive the
  // transport.
  DeviceTransport(platform::Os& os, std::vector<Device*> devices);
  DeviceTransport(const DeviceTransport&) = delete;
  DeviceTransport& operator=(const DeviceTransport&) = delete;

  // Nothing to load: the devices are there.
  bool Load(TransportState&) override { return true; }
  void Release(TransportState&) override {}
  // 0 up to the number of devices: a device that is not present does not open.
  std::vector<uint32_t> DeviceNumbers() override;
  // A new handle for device `number`; InvalidHandle() past the last device.
  platform::Handle OpenNumbered(uint32_t number) override;
  void CloseNumbered(platform::Handle device) override;

  // Handles open now.
  size_t openCount() const { return open_.size(); }

 protected:
  // The command goes to the device of the record's handle, through a staging copy of the data
  // (a data-in one starts as the caller's buffer) so that a failed data-in command leaves the
  // caller's buffer as it was. Result: kNotSent without staging memory (nothing sent); kOsError
  // when the handle names no open device, one that vanished since it was opened (ENODEV), or
  // the device did not answer (sense zeros); kCheckCondition for CHECK CONDITION, the device's
  // sense copied into the sense area; kHostError for another status; kGood otherwise, the data
  // copied back and `moved` the data length less the residual the device reported.
  ScsiOutcome Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) override;
  DeviceAnswer AskDevice(platform::Handle device, const uint8_t* cdb, uint8_t cdbLength,
                         uint8_t* reply, uint32_t replyLength, uint32_t timeOutSeconds) override;

 private:
  Device* DeviceOf(platform::Handle handle) const;

  std::vector<Device*> devices_;
  struct OpenDevice {
    uint32_t number;
    uint32_t attachment;  // the device's Attachment() when it was opened
  };
  std::map<platform::Handle, OpenDevice> open_;
  uintptr_t nextHandle_;
};

}  // namespace sim
