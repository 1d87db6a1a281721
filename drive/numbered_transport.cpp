#include "drive/numbered_transport.h"

#include "drive/drive_records.h"

namespace {

constexpr uint32_t kAlignmentMask = 2047;
constexpr uint32_t kInquiryTimeOutSeconds = 2;

}  // namespace

DeviceAnswer NumberedTransport::Ask(platform::Handle device, const uint8_t* cdb,
                                    uint8_t cdbLength, uint8_t* reply, uint32_t replyLength,
                                    uint32_t timeOutSeconds) {
  const DeviceAnswer answer = AskDevice(device, cdb, cdbLength, reply, replyLength, timeOutSeconds);
  Trace(cdb, cdbLength, kDataIn, replyLength, answer.delivered && answer.status == 0,
        answer.sense, kMovedUnknown);
  return answer;
}

void NumberedTransport::Discover(DriveList& drives) {
  drives.count = 0;
  static const uint8_t kInquiryCdb[6] = {0x12, 0x00, 0x00, 0x00, drive::kStandardInquiryLength,
                                         0x00};
  for (const uint32_t number : DeviceNumbers()) {
    const platform::Handle handle = OpenNumbered(number);
    if (handle == platform::InvalidHandle()) continue;
    uint8_t reply[drive::kStandardInquiryLength] = {};
    const DeviceAnswer answer = Ask(handle, kInquiryCdb, sizeof kInquiryCdb, reply, sizeof reply,
                                    kInquiryTimeOutSeconds);
    DriveRecord* record = nullptr;
    if (answer.delivered && answer.status == kScsiStatusGood &&
        reply[0] == drive::kCdRomPeripheralByte && !drive::ListIsFull(drives)) {
      record = NewRecord();
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
