// The NT family's transport: drive-letter devices, one IOCTL_SCSI_PASS_THROUGH_DIRECT request
// per command, and discovery by each letter's stored inquiry data (NT 4) or by an INQUIRY
// through each letter (later versions).
#include <cstring>

#include "drive/command_trace.h"
#include "drive/drive_records.h"
#include "drive/drive_transport.h"
#include "drive/pass_through_request.h"
#include "platform/nt_scsi.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kPassThroughTimeOutSeconds = 0xFFFF;
constexpr uint8_t kCheckConditionStatus = 0x02;
constexpr uint32_t kInquiryDataBufferSize = 2048;
constexpr uint32_t kNt5InquiryReplySize = 2048;
constexpr uint32_t kNt5AlignmentMask = 2047;
constexpr uint32_t kNt5InquiryTimeOutSeconds = 2;

// The device path of a drive letter: "\\.\" then the letter in lower case and a colon.
void LetterPath(char letter, char path[7]) {
  std::memcpy(path, "\\\\.\\?:", 7);
  path[4] = letter;
}

// One SCSI_PASS_THROUGH_DIRECT on the drive's device handle, data moved through a staging
// buffer aligned to the drive's alignmentMask (a direct transfer needs the adapter's alignment).
// Result: kNotSent without a staging buffer; kOsError when DeviceIoControl failed; kGood for
// ScsiStatus 0 with a data-in phase delivered in full; kCheckCondition for ScsiStatus 2;
// kHostError for another status or a short data-in phase. Unless kGood or kNotSent, the sense
// area gets the block's 32 sense bytes (zeros where none were written).
ScsiOutcome CarryPassThrough(const ScsiRequest& request, bool& sent) {
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
  }
  PassThroughBlock block;
  drive::FillPassThroughBlock(block, {drive.adapterId, drive.targetId, request.cdb,
                                      request.cdbLength, dataIn, request.dataLength, transfer,
                                      kPassThroughTimeOutSeconds});

  uint32_t returned = 0;
  sent = true;
  const bool delivered = platform::os().deviceControl(
      drive.deviceHandle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof(SCSI_PASS_THROUGH_DIRECT),
      &block, sizeof(PassThroughBlock), &returned);

  // The port driver returns in DataTransferLength how many bytes actually moved. A data-in
  // command that delivered fewer than asked for has failed: the rest of the transfer area is
  // not the drive's answer and must not reach the caller as if it were.
  const bool readsData = dataIn == SCSI_IOCTL_DATA_IN;
  const bool shortRead = readsData && block.sptd.DataTransferLength < request.dataLength;
  ScsiOutcome outcome;
  if (!delivered || block.sptd.ScsiStatus != 0 || shortRead) {
    std::memcpy(request.senseArea, block.sense, sizeof(block.sense));
    outcome = !delivered                                        ? ScsiOutcome::kOsError
              : block.sptd.ScsiStatus == kCheckConditionStatus ? ScsiOutcome::kCheckCondition
                                                                : ScsiOutcome::kHostError;
  } else {
    if (readsData && request.dataLength > 0) {
      std::memcpy(request.data, transfer, request.dataLength);
    }
    outcome = ScsiOutcome::kGood;
  }
  platform::os().freeBuffer(staging);
  return outcome;
}

// Reads the bus table and entry chains of one letter's stored inquiry data and lists each
// CD-ROM entry with the letter's handle. Every offset and entry is checked against the buffer;
// a bus's walk stops at the first entry that does not lie wholly inside it, or that it has
// already walked.
// Returns the number of records that took the handle.
uint32_t ListStoredInquiryData(const uint8_t* buffer, platform::Handle handle, DriveList& drives) {
  constexpr size_t kBusTableStart = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
  constexpr size_t kEntryHeader = offsetof(SCSI_INQUIRY_DATA, InquiryData);
  constexpr size_t kEntrySize = kEntryHeader + drive::kStandardInquiryLength;

  uint32_t taken = 0;
  const uint8_t buses = buffer[offsetof(SCSI_ADAPTER_BUS_INFO, NumberOfBuses)];
  for (uint8_t i = 0; i < buses; ++i) {
    const size_t busOffset = kBusTableStart + size_t{i} * sizeof(SCSI_BUS_DATA);
    if (busOffset + sizeof(SCSI_BUS_DATA) > kInquiryDataBufferSize) break;
    SCSI_BUS_DATA bus;
    std::memcpy(&bus, buffer + busOffset, sizeof(bus));

    // A chain that comes back to an entry it has already walked ends there.
    bool walked[kInquiryDataBufferSize] = {};
    for (uint32_t offset = bus.InquiryDataOffset; offset != 0;) {
      if (offset > kInquiryDataBufferSize || kInquiryDataBufferSize - offset < kEntrySize) break;
      if (walked[offset]) break;
      walked[offset] = true;
      SCSI_INQUIRY_DATA entry;
      std::memcpy(&entry, buffer + offset, kEntryHeader);
      const uint8_t* inquiry = buffer + offset + kEntryHeader;

      if (inquiry[0] == drive::kCdRomPeripheralByte && !drive::ListIsFull(drives)) {
        DriveRecord* record = drive::NewRecord();
        if (record != nullptr) {
          record->adapterId = entry.PathId;
          record->targetId = entry.TargetId;
          record->deviceHandle = handle;
          drive::SetIdentity(*record, inquiry);
          IO_SCSI_CAPABILITIES capabilities;
          std::memset(&capabilities, 0, sizeof(capabilities));
          uint32_t returned = 0;
          if (platform::os().deviceControl(handle, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0,
                                           &capabilities, sizeof(capabilities), &returned)) {
            record->alignmentMask = capabilities.AlignmentMask;
            record->maxTransferLength = capabilities.MaximumTransferLength;
          }
          drive::Append(drives, record);
          ++taken;
        }
      }
      offset = entry.NextInquiryDataOffset;
    }
  }
  return taken;
}

// NT 4 walk. Result: appends the CD-ROM entries of each letter c..y's stored inquiry data.
void DiscoverNt4(DriveList& drives) {
  for (char letter = 'c'; letter <= 'y'; ++letter) {
    char path[7];
    LetterPath(letter, path);
    const platform::Handle handle = platform::os().openDevice(path);
    if (handle == platform::InvalidHandle()) continue;

    uint8_t buffer[kInquiryDataBufferSize] = {};
    uint32_t returned = 0;
    uint32_t taken = 0;
    if (platform::os().deviceControl(handle, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer,
                                     sizeof(buffer), &returned)) {
      taken = ListStoredInquiryData(buffer, handle, drives);
    }
    if (taken == 0) platform::os().closeHandle(handle);
  }
}

// One pass-through INQUIRY (allocation length 127, 2 s) into a 0xFF-filled reply, traced.
// Result: true when DeviceIoControl carried it (ScsiStatus not read); false: no drive there.
bool PassThroughInquiry(platform::Handle handle, uint8_t* reply) {
  std::memset(reply, 0xFF, kNt5InquiryReplySize);
  static const uint8_t kInquiryCdb[6] = {0x12, 0x00, 0x00, 0x00, 0x7F, 0x00};
  PassThroughBlock block;
  drive::FillPassThroughBlock(block, {0, 0, kInquiryCdb, sizeof(kInquiryCdb), SCSI_IOCTL_DATA_IN,
                                      kNt5InquiryReplySize, reply, kNt5InquiryTimeOutSeconds});

  uint32_t returned = 0;
  const bool delivered =
      platform::os().deviceControl(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof(block),
                                   &block, sizeof(block), &returned);
  drive::TraceCommand(kInquiryCdb, sizeof(kInquiryCdb), SRB_DIR_IN, kNt5InquiryReplySize,
                      delivered && block.sptd.ScsiStatus == 0, block.sense);
  return delivered;
}

// NT 5 and later. Result: appends each letter c..z whose pass-through INQUIRY byte 0 is
// exactly 5.
void DiscoverNt5(DriveList& drives) {
  uint8_t reply[kNt5InquiryReplySize];
  for (char letter = 'c'; letter <= 'z'; ++letter) {
    char path[7];
    LetterPath(letter, path);
    const platform::Handle handle = platform::os().openDevice(path);
    if (handle == platform::InvalidHandle()) continue;

    DriveRecord* record = nullptr;
    if (PassThroughInquiry(handle, reply) && reply[0] == drive::kCdRomPeripheralByte &&
        !drive::ListIsFull(drives)) {
      record = drive::NewRecord();
    }
    if (record == nullptr) {
      platform::os().closeHandle(handle);
      continue;
    }
    record->deviceHandle = handle;
    record->adapterId = 0;
    record->targetId = 0;
    record->alignmentMask = kNt5AlignmentMask;
    drive::SetIdentity(*record, reply);
    drive::Append(drives, record);
  }
}

class NtPassThrough final : public DriveTransport {
 public:
  explicit NtPassThrough(bool nt4Walk) : nt4Walk_(nt4Walk) {}
  // The NT family has nothing to load.
  bool Load(TransportState&) override { return true; }
  void Release(TransportState&) override {}
  void Discover(DriveList& drives) override {
    drives.count = 0;
    if (nt4Walk_) {
      DiscoverNt4(drives);
    } else {
      DiscoverNt5(drives);
    }
  }

 protected:
  ScsiOutcome Carry(const ScsiRequest& request, bool& sent) override {
    return CarryPassThrough(request, sent);
  }

 private:
  const bool nt4Walk_;
};

}  // namespace

DriveTransport& NtPassThroughTransport() {
  static NtPassThrough transport(false);
  return transport;
}

DriveTransport& Nt4PassThroughTransport() {
  static NtPassThrough transport(true);
  return transport;
}
