#include "drive/nt_pass_through_transport.h"

#include <cstring>

#include "drive/drive_records.h"
#include "drive/pass_through_request.h"
#include "platform/nt_scsi.h"

namespace {

constexpr uint32_t kInquiryDataBufferSize = 2048;

// The device path of a drive letter: "\\.\" then the letter in lower case and a colon.
void LetterPath(char letter, char path[16]) {
  std::memcpy(path, "\\\\.\\?:", 7);
  path[4] = letter;
}

constexpr uint32_t kInquiryReplySize = 2048;
constexpr uint32_t kInquiryAlignmentMask = 2047;
constexpr uint32_t kInquiryTimeOutSeconds = 2;
constexpr uint8_t kInquiryCdb[6] = {0x12, 0x00, 0x00, 0x00, 0x7F, 0x00};

}  // namespace

// Reads the bus table and entry chains of one letter's stored inquiry data and lists each
// CD-ROM entry with the letter's handle. Every offset and entry is checked against the buffer;
// a bus's walk stops at the first entry that does not lie wholly inside it, or that it has
// already walked.
// Returns the number of records that took the handle.
uint32_t NtPassThroughTransport::ListStoredInquiryData(const uint8_t* buffer,
                                                      platform::Handle handle,
                                                      DriveList& drives) {
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
        DriveRecord* record = NewRecord();
        if (record != nullptr) {
          record->adapterId = entry.PathId;
          record->targetId = entry.TargetId;
          record->deviceHandle = handle;
          drive::SetIdentity(*record, inquiry);
          IO_SCSI_CAPABILITIES capabilities;
          std::memset(&capabilities, 0, sizeof(capabilities));
          uint32_t returned = 0;
          if (windows_.deviceControl(handle, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0,
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
void NtPassThroughTransport::DiscoverNt4(DriveList& drives) {
  for (char letter = 'c'; letter <= 'y'; ++letter) {
    char path[16];
    LetterPath(letter, path);
    const platform::Handle handle = windows_.openDevice(path);
    if (handle == platform::InvalidHandle()) continue;

    uint8_t buffer[kInquiryDataBufferSize] = {};
    uint32_t returned = 0;
    uint32_t taken = 0;
    if (windows_.deviceControl(handle, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer,
                                     sizeof(buffer), &returned)) {
      taken = ListStoredInquiryData(buffer, handle, drives);
    }
    if (taken == 0) windows_.closeHandle(handle);
  }
}

// One pass-through INQUIRY (allocation length 127, 2 s) into a 0xFF-filled reply, traced.
// Result: true when the request was carried (ScsiStatus not read); false: no drive there.
bool NtPassThroughTransport::PassThroughInquiry(platform::Handle handle, uint8_t* reply) {
  std::memset(reply, 0xFF, kInquiryReplySize);
  PassThroughBlock block;
  drive::FillPassThroughBlock(block, {0, 0, kInquiryCdb, sizeof(kInquiryCdb), SCSI_IOCTL_DATA_IN,
                                      kInquiryReplySize, reply, kInquiryTimeOutSeconds});
  uint32_t returned = 0;
  const bool delivered = windows_.deviceControl(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                                sizeof(block), &block, sizeof(block), &returned);
  Trace(kInquiryCdb, sizeof(kInquiryCdb), kDataIn, kInquiryReplySize,
        delivered && block.sptd.ScsiStatus == 0, block.sense);
  return delivered;
}

// NT 5 and later. Result: appends each letter c..z that opens, carries the INQUIRY and answers
// with peripheral byte exactly 5: a record with its open handle, ids 0 and alignment mask 2047,
// until the list is full; every other handle is closed again.
void NtPassThroughTransport::DiscoverNt5(DriveList& drives) {
  uint8_t reply[kInquiryReplySize];
  for (char letter = 'c'; letter <= 'z'; ++letter) {
    char path[16];
    LetterPath(letter, path);
    const platform::Handle handle = windows_.openDevice(path);
    if (handle == platform::InvalidHandle()) continue;

    DriveRecord* record = nullptr;
    if (PassThroughInquiry(handle, reply) && reply[0] == drive::kCdRomPeripheralByte &&
        !drive::ListIsFull(drives)) {
      record = NewRecord();
    }
    if (record == nullptr) {
      windows_.closeHandle(handle);
      continue;
    }
    record->deviceHandle = handle;
    record->adapterId = 0;
    record->targetId = 0;
    record->alignmentMask = kInquiryAlignmentMask;
    drive::SetIdentity(*record, reply);
    drive::Append(drives, record);
  }
}

void NtPassThroughTransport::Discover(DriveList& drives) {
  drives.count = 0;
  if (nt4Walk_) {
    DiscoverNt4(drives);
  } else {
    DiscoverNt5(drives);
  }
}

ScsiOutcome NtPassThroughTransport::Carry(const ScsiRequest& request, bool& sent,
                                          uint32_t& moved) {
  return drive::CarryPassThrough(windows_, request, drive::kPassThroughTimeOutSeconds, sent, moved);
}
