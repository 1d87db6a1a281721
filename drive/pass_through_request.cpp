#include "drive/pass_through_request.h"

#include <cstring>

namespace drive {

void FillPassThroughBlock(PassThroughBlock& block, const PassThroughFields& fields) {
  std::memset(&block, 0, sizeof(block));
  block.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  block.sptd.PathId = fields.pathId;
  block.sptd.TargetId = fields.targetId;
  block.sptd.Lun = 0;
  block.sptd.CdbLength = fields.cdbLength;
  block.sptd.SenseInfoLength = static_cast<uint8_t>(kPassThroughSenseLength);
  block.sptd.DataIn = fields.dataIn;
  block.sptd.DataTransferLength = fields.dataLength;
  block.sptd.TimeOutValue = fields.timeOutSeconds;
  block.sptd.DataBuffer = fields.dataBuffer;
  block.sptd.SenseInfoOffset = kPassThroughSenseOffset;
  std::memcpy(block.sptd.Cdb, fields.cdb, fields.cdbLength);
}

// Result: see the declaration.
ScsiOutcome CarryPassThrough(platform::WindowsOs& os, const ScsiRequest& request,
                             uint32_t timeOutSeconds, bool& sent, uint32_t& moved) {
  const DriveRecord& drive = *request.drive;
  const uint64_t stagingSize = uint64_t{drive.alignmentMask} + request.dataLength;
  if (stagingSize > static_cast<size_t>(-1)) return ScsiOutcome::kNotSent;
  void* staging =
      os.allocBuffer(stagingSize == 0 ? 1 : static_cast<size_t>(stagingSize));
  if (staging == nullptr) return ScsiOutcome::kNotSent;
  const uintptr_t mask = drive.alignmentMask;
  uint8_t* transfer =
      reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(staging) + mask) & ~mask);

  uint8_t dataIn = 0;  // no data phase goes out as 0, the same code as data out
  if (request.direction & kDataOut) {
    dataIn = SCSI_IOCTL_DATA_OUT;
    if (request.dataLength > 0) std::memcpy(transfer, request.data, request.dataLength);
  } else if (request.direction & kDataIn) {
    dataIn = SCSI_IOCTL_DATA_IN;
    if (request.dataLength > 0) std::memcpy(transfer, request.data, request.dataLength);
  }
  PassThroughBlock block;
  FillPassThroughBlock(block, {drive.adapterId, drive.targetId, request.cdb,
                               request.cdbLength, dataIn, request.dataLength, transfer,
                               timeOutSeconds});

  sent = true;
  // DeviceIoControl either carries the request (the device answered) or fails.
  uint32_t returned = 0;
  const bool delivered =
      os.deviceControl(drive.deviceHandle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                       sizeof(SCSI_PASS_THROUGH_DIRECT), &block, sizeof(PassThroughBlock), &returned);

  // The port driver returns in DataTransferLength how many bytes actually moved. Whether that
  // is enough is the command's to judge: a commit moves nothing, a read-back must bring all.
  const bool readsData = dataIn == SCSI_IOCTL_DATA_IN;
  ScsiOutcome outcome;
  if (!delivered || block.sptd.ScsiStatus != 0) {
    std::memcpy(request.senseArea, block.sense, sizeof(block.sense));
    outcome = delivered ? OutcomeOfStatus(block.sptd.ScsiStatus) : ScsiOutcome::kOsError;
  } else {
    if (readsData && request.dataLength > 0) {
      std::memcpy(request.data, transfer, request.dataLength);
    }
    moved = block.sptd.DataTransferLength < request.dataLength ? block.sptd.DataTransferLength
                                                               : request.dataLength;
    outcome = ScsiOutcome::kGood;
  }
  os.freeBuffer(staging);
  return outcome;
}

}  // namespace drive
