// The one pass-through block that both the NT transport and discovery's drive-letter INQUIRY
// hand to DeviceIoControl: the request itself, then the sense buffer the port driver fills.
#pragma once

#include <cstdint>

#include "platform/nt_scsi.h"

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

}  // namespace drive
