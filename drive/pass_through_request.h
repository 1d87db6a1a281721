// The one pass-through block that the NT transport and its discovery INQUIRY hand to
// DeviceIoControl: the request itself, then the sense buffer the driver fills; and the carrying
// of one command in such a block.
#pragma once

#include <cstdint>

#include "drive/drive.h"
#include "platform/nt_scsi.h"
#include "platform/windows_os.h"

namespace drive {

// What differs between the two senders; the rest of the block is fixed (LUN 0, 24 sense bytes
// at the sense buffer's offset).
struct PassThroughFields {
  uint8_t pathId;
  uint8_t targetId;
  const uint8_t* cdb;
  uint8_t cdbLength;  // 1 to 16, checked by the caller
  uint8_t dataIn;     // SCSI_IOCTL_DATA_IN or SCSI_IOCTL_DATA_OUT
  uint32_t dataLength;
  void* dataBuffer;
  uint32_t timeOutSeconds;
};

// Zero-fills `block` (filler and sense buffer included) and fills its request from `fields`.
void FillPassThroughBlock(PassThroughBlock& block, const PassThroughFields& fields);

// The NT pass-through's time-out for every command of the Windows program.
constexpr uint32_t kPassThroughTimeOutSeconds = 0xFFFF;

// One pass-through command on the drive's device handle with the given time-out, data moved
// through a staging buffer aligned to the drive's alignmentMask (a direct transfer needs the
// adapter's alignment). A data-in staging area starts as a copy of the caller's buffer, so that
// bytes the drive did not write read back as the caller left them.
// Result: kNotSent without a staging buffer (`sent` stays false); kOsError when DeviceIoControl
// failed; kGood for ScsiStatus 0, the whole transfer area copied back for a
// data-in phase and `moved` the DataTransferLength the driver returned, however short;
// kCheckCondition for ScsiStatus 2; kHostError for another status. Unless kGood or kNotSent,
// the sense area gets the block's 32 sense bytes (zeros where none were written).
ScsiOutcome CarryPassThrough(platform::WindowsOs& os, const ScsiRequest& request,
                             uint32_t timeOutSeconds, bool& sent, uint32_t& moved);

}  // namespace drive
