#include "drive/pass_through_request.h"

#include <cstring>

#include "drive/command_trace.h"
#include "drive/drive_records.h"
#include "platform/platform.h"

namespace drive {
namespace {

constexpr uint8_t kCheckConditionStatus = 0x02;
constexpr uint32_t kInquiryReplySize = 2048;
constexpr uint32_t kInquiryAlignmentMask = 2047;
constexpr uint32_t kInquiryTimeOutSeconds = 2;

// One pass-through INQUIRY (allocation length 127, 2 s) into a 0xFF-filled reply, traced.
// Result: true when the request was carried (ScsiStatus not read); false: no drive there.
bool PassThroughInquiry(platform::Handle handle, uint8_t* reply) {
  std::memset(reply, 0xFF, kInquiryReplySize);
  static const uint8_t kInquiryCdb[6] = {0x12, 0x00, 0x00, 0x00, 0x7F, 0x00};
  PassThroughBlock block;
  FillPassThroughBlock(block, {0, 0, kInquiryCdb, sizeof(kInquiryCdb), SCSI_IOCTL_DATA_IN,
                               kInquiryReplySize, reply, kInquiryTimeOutSeconds});

  uint32_t returned = 0;
  const bool delivered =
      platform::os().deviceControl(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof(block),
                                   &block, sizeof(block), &returned);
  TraceCommand(kInquiryCdb, sizeof(kInquiryCdb), SRB_DIR_IN, kInquiryReplySize,
               delivered && block.sptd.ScsiStatus == 0, block.sense);
  return delivered;
}

}  // namespace

void DiscoverByInquiry(DriveList& drives, uint32_t count, void (*path)(uint32_t index, char out[16])) {
  uint8_t reply[kInquiryReplySize];
  for (uint32_t i = 0; i < count; ++i) {
    char name[16];
    path(i, name);
    const platform::Handle handle = platform::os().openDevice(name);
    if (handle == platform::InvalidHandle()) continue;

    DriveRecord* record = nullptr;
    if (PassThroughInquiry(handle, reply) && reply[0] == kCdRomPeripheralByte &&
        !ListIsFull(drives)) {
      record = NewRecord();
    }
    if (record == nullptr) {
      platform::os().closeHandle(handle);
      continue;
    }
    record->deviceHandle = handle;
    record->adapterId = 0;
    record->targetId = 0;
    record->alignmentMask = kInquiryAlignmentMask;
    SetIdentity(*record, reply);
    Append(drives, record);
  }
}

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
ScsiOutcome CarryPassThrough(const ScsiRequest& request, uint32_t timeOutSeconds, bool& sent,
                             uint32_t& moved, DeliverBlock deliver) {
  const DriveRecord& drive = *request.drive;
  const uint64_t stagingSize = uint64_t{drive.alignmentMask} + request.dataLength;
  if (stagingSize > static_cast<size_t>(-1)) return ScsiOutcome::kNotSent;
  void* staging =
      platform::os().allocBuffer(stagingSize == 0 ? 1 : static_cast<size_t>(stagingSize));
  if (staging == nullptr) return ScsiOutcome::kNotSent;
  const uintptr_t mask = drive.alignmentMask;
  uint8_t* transfer =
      reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(staging) + mask) & ~mask);

  uint8_t dataIn = 0;  // no data phase goes out as 0, the same code as data out
  if (request.direction & SRB_DIR_OUT) {
    dataIn = SCSI_IOCTL_DATA_OUT;
    if (request.dataLength > 0) std::memcpy(transfer, request.data, request.dataLength);
  } else if (request.direction & SRB_DIR_IN) {
    dataIn = SCSI_IOCTL_DATA_IN;
    if (request.dataLength > 0) std::memcpy(transfer, request.data, request.dataLength);
  }
  PassThroughBlock block;
  FillPassThroughBlock(block, {drive.adapterId, drive.targetId, request.cdb,
                               request.cdbLength, dataIn, request.dataLength, transfer,
                               timeOutSeconds});

  sent = true;
  const ScsiOutcome delivery = deliver(drive.deviceHandle, block);
  const bool delivered = delivery == ScsiOutcome::kGood;

  // The port driver returns in DataTransferLength how many bytes actually moved. Whether that
  // is enough is the command's to judge: a commit moves nothing, a read-back must bring all.
  const bool readsData = dataIn == SCSI_IOCTL_DATA_IN;
  ScsiOutcome outcome;
  if (!delivered || block.sptd.ScsiStatus != 0) {
    std::memcpy(request.senseArea, block.sense, sizeof(block.sense));
    outcome = !delivered                                        ? delivery
              : block.sptd.ScsiStatus == kCheckConditionStatus ? ScsiOutcome::kCheckCondition
                                                                : ScsiOutcome::kHostError;
  } else {
    if (readsData && request.dataLength > 0) {
      std::memcpy(request.data, transfer, request.dataLength);
    }
    moved = block.sptd.DataTransferLength < request.dataLength ? block.sptd.DataTransferLength
                                                               : request.dataLength;
    outcome = ScsiOutcome::kGood;
  }
  platform::os().freeBuffer(staging);
  return outcome;
}

}  // namespace drive
