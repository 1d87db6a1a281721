// The native Linux transport: the optical drives the system lists under /sys/class/block
// (sr0, sr1, ...), opened as /dev/srN, each command carried by exactly one SG_IO request.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "drive/numbered_transport.h"
#include "platform/linux/kernel.h"

namespace drive {

// N of a block device name "srN" (N decimal digits, no sign, no leading zero but "0"); false
// for any other name.
bool SrNumberOfName(const std::string& name, uint32_t& number);
// N of each srN entry of /sys/class/block (the optical drives the system knows), ascending;
// none when it cannot be read.
std::vector<uint32_t> ListedSrNumbers(platform::Kernel& kernel);

class SgIoTransport final : public NumberedTransport {
 public:
  // Staging memory comes from `os`, devices and SG_IO from `kernel`; both outlive the transport.
  SgIoTransport(platform::Os& os, platform::Kernel& kernel) : NumberedTransport(os), kernel_(kernel) {}
  // Closes every device still open.
  ~SgIoTransport() override;

  // Nothing to load: the kernel's sr driver is the transport.
  bool Load(TransportState&) override { return true; }
  void Release(TransportState&) override {}

  // ListedSrNumbers.
  std::vector<uint32_t> DeviceNumbers() override { return ListedSrNumbers(kernel_); }
  // /dev/srN read-write, non-blocking (no medium needed) and close-on-exec; read-only where the
  // user may only read it (INQUIRY is still allowed: listing the drives).
  platform::Handle OpenNumbered(uint32_t number) override;
  void CloseNumbered(platform::Handle device) override;

 protected:
  // The kernel waits inside the ioctl, where no signal reaches the program, for as long as the
  // time-out says: each command is bounded by its own, or by the field's usual minute. The data
  // goes through a staging copy (a data-in one starts as the caller's buffer), so that a failed
  // command leaves the caller's buffer as it was.
  ScsiOutcome Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) override;
  DeviceAnswer AskDevice(platform::Handle device, const uint8_t* cdb, uint8_t cdbLength,
                         uint8_t* reply, uint32_t replyLength, uint32_t timeOutSeconds) override;

 private:
  // What became of one SG_IO request, in the transport's categories.
  struct SgResult {
    ScsiOutcome outcome;  // kGood also stands for any status the device answered with
    uint8_t status;       // the SCSI status, when the device answered
    uint32_t moved;       // the length asked for less SG_IO's residual, when it answered
  };
  SgResult Execute(int fd, const uint8_t* cdb, uint8_t cdbLength, uint8_t direction, uint8_t* data,
                   uint32_t length, uint32_t timeOutSeconds, uint8_t* sense);
  int DescriptorOf(platform::Handle device);

  platform::Kernel& kernel_;
  std::mutex mutex_;  // the open devices
  std::map<platform::Handle, int> open_;
  uintptr_t nextHandle_ = 0x5300;
};

}  // namespace drive
