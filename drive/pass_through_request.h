// The one pass-through block that the pass-through transports (NT, and Linux SG_IO) and their
// discovery INQUIRY hand to the operating system: the request itself, then the sense buffer the
// driver fills; and the carrying of one command in such a block.
#pragma once

#include <cstdint>

#include "drive/drive.h"
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

// Hands the filled block to the operating system for the device. Returns kGood when the device
// answered (ScsiStatus then holds its status), otherwise kHostError or kOsError.
using DeliverBlock = ScsiOutcome (*)(platform::Handle device, PassThroughBlock& block);

// The NT pass-through's time-out for every command of the Windows program.
constexpr uint32_t kPassThroughTimeOutSeconds = 0xFFFF;

// One pass-through command on the drive's device handle with the given time-out, data moved
// through a staging buffer aligned to the drive's alignmentMask (a direct transfer needs the
// adapter's alignment). A data-in staging area starts as a copy of the caller's buffer, so that
// bytes the drive did not write read back as the caller left them.
// Result: kNotSent without a staging buffer (`sent` stays false); what `deliver` says when the
// device did not answer; kGood for ScsiStatus 0, the whole transfer area copied back for a
// data-in phase and `moved` the DataTransferLength the driver returned, however short;
// kCheckCondition for ScsiStatus 2; kHostError for another status. Unless kGood or kNotSent,
// the sense area gets the block's 32 sense bytes (zeros where none were written).
ScsiOutcome CarryPassThrough(const ScsiRequest& request, uint32_t timeOutSeconds, bool& sent,
                             uint32_t& moved, DeliverBlock deliver);

// Discovery by an INQUIRY through each of `count` device paths (`path` writes the one of index
// 0, 1, ...): each device that opens, carries a pass-through INQUIRY (allocation length 127,
// 2 s, traced) and answers with peripheral byte 5 becomes a record with its open handle, ids 0
// and alignment mask 2047, until the list is full; every other handle is closed again.
void DiscoverByInquiry(DriveList& drives, uint32_t count, void (*path)(uint32_t index, char out[16]));

}  // namespace drive
