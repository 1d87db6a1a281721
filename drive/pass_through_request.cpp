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

}  // namespace drive
