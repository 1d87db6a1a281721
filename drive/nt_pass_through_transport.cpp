// The NT family's transport: drive-letter devices, one IOCTL_SCSI_PASS_THROUGH_DIRECT request
// per command, and discovery by each letter's stored inquiry data (NT 4) or by an INQUIRY
// through each letter (later versions).
#include <cstring>

#include "drive/drive_records.h"
#include "drive/drive_transport.h"
#include "drive/pass_through_request.h"
#include "platform/nt_scsi.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kInquiryDataBufferSize = 2048;

// The device path of a drive letter: "\\.\" then the letter in lower case and a colon.
void LetterPath(char letter, char path[16]) {
  std::memcpy(path, "\\\\.\\?:", 7);
  path[4] = letter;
}

// DeviceIoControl either carries the request (the device answered) or fails.
ScsiOutcome DeviceIoControlDelivery(platform::Handle device, PassThroughBlock& block) {
  uint32_t returned = 0;
  const bool delivered = platform::os().deviceControl(
      device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof(SCSI_PASS_THROUGH_DIRECT), &block,
      sizeof(PassThroughBlock), &returned);
  return delivered ? ScsiOutcome::kGood : ScsiOutcome::kOsError;
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
    char path[16];
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

// NT 5 and later. Result: appends each letter c..z whose pass-through INQUIRY byte 0 is
// exactly 5.
void DiscoverNt5(DriveList& drives) {
  drive::DiscoverByInquiry(drives, 'z' - 'c' + 1, [](uint32_t index, char path[16]) {
    LetterPath(static_cast<char>('c' + index), path);
  });
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
  // Every command carries the pass-through's own time-out of 65535 s.
  ScsiOutcome Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) override {
    return drive::CarryPassThrough(request, drive::kPassThroughTimeOutSeconds, sent, moved,
                                   &DeviceIoControlDelivery);
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
