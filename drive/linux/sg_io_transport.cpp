// The native Linux transport. Devices are opened through the platform's openDevice by their
// /dev/srN path, and each command goes to SG_IO as one pass-through block, with what became of
// it (the platform's Linux binding says whether the host, the driver or the ioctl failed).
#include "drive/linux/sg_io_transport.h"

#include <cstdio>
#include <cstring>

#include "drive/pass_through_request.h"
#include "platform/linux/sg_io.h"

namespace {

// As many devices as there were drive letters for them (c..z).
constexpr uint32_t kSrDevices = 24;
// A command that names no time-out of its own.
constexpr uint32_t kDefaultTimeOutSeconds = 60;

ScsiOutcome SgIoDelivery(platform::Handle device, PassThroughBlock& block) {
  switch (platform::linux_sg::DeliverOn(device, &block, sizeof(SCSI_PASS_THROUGH_DIRECT), &block,
                                        sizeof(PassThroughBlock))) {
    case platform::linux_sg::Delivery::kDelivered: return ScsiOutcome::kGood;
    case platform::linux_sg::Delivery::kHostError: return ScsiOutcome::kHostError;
    case platform::linux_sg::Delivery::kMalformed: return ScsiOutcome::kNotSent;
    case platform::linux_sg::Delivery::kOsError: break;
  }
  return ScsiOutcome::kOsError;
}

class SgIo final : public NumberedTransport {
 public:
  // Nothing to load: the kernel's sr driver is the transport.
  bool Load(TransportState&) override { return true; }
  void Release(TransportState&) override {}
  void Discover(DriveList& drives) override {
    drives.count = 0;
    drive::DiscoverByInquiry(drives, kSrDevices, [](uint32_t index, char path[16]) {
      std::snprintf(path, 16, "/dev/sr%u", static_cast<unsigned>(index));
    });
  }
  platform::Handle OpenNumbered(uint32_t number) override {
    char path[16];
    std::snprintf(path, sizeof path, "/dev/sr%u", static_cast<unsigned>(number));
    return platform::os().openDevice(path);
  }
  void CloseNumbered(platform::Handle device) override { platform::os().closeHandle(device); }

 protected:
  // The kernel waits inside the ioctl, where no signal reaches the program, for as long as the
  // time-out says: each command is bounded by its own, or by the field's usual minute.
  ScsiOutcome Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) override {
    const uint32_t timeOut =
        request.timeOutSeconds != 0 ? request.timeOutSeconds : kDefaultTimeOutSeconds;
    return drive::CarryPassThrough(request, timeOut, sent, moved, &SgIoDelivery);
  }
  // One pass-through block through the seam's deviceControl, the reply buffer as its data.
  DeviceAnswer AskDevice(platform::Handle device, const uint8_t* cdb, uint8_t cdbLength,
                         uint8_t* reply, uint32_t replyLength, uint32_t timeOutSeconds) override {
    PassThroughBlock block;
    drive::FillPassThroughBlock(block, {0, 0, cdb, cdbLength, SCSI_IOCTL_DATA_IN, replyLength,
                                        reply, timeOutSeconds});
    uint32_t returned = 0;
    DeviceAnswer answer{};
    answer.delivered = platform::os().deviceControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                                    sizeof block, &block, sizeof block, &returned);
    answer.status = block.sptd.ScsiStatus;
    answer.moved = answer.delivered ? block.sptd.DataTransferLength : 0;
    static_assert(sizeof answer.sense == sizeof block.sense, "one sense area");
    std::memcpy(answer.sense, block.sense, sizeof answer.sense);
    return answer;
  }
};

}  // namespace

NumberedTransport& SgIoTransport() {
  static SgIo transport;
  return transport;
}
