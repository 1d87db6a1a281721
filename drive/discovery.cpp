// Drive discovery: the CD-ROM-class devices of the ASPI manager's adapters, or of the NT drive
// letters, each becomes one heap DriveRecord in the DriveList.
#include <cstring>

#include "drive/aspi_entry_points.h"
#include "drive/command_trace.h"
#include "drive/drive.h"
#include "drive/pass_through_request.h"
#include "platform/nt_scsi.h"

namespace {

constexpr uint8_t kCdRomPeripheralByte = 5;  // qualifier 0 (connected), device type 5
constexpr uint8_t kDefaultTargetCount = 2;
constexpr uint32_t kInquiryDataBufferSize = 2048;
constexpr uint32_t kNt5InquiryReplySize = 2048;
constexpr uint32_t kStandardInquiryLength = 36;
constexpr uint32_t kIdentityLength = 24;
constexpr uint32_t kRevisionLength = 4;
constexpr uint32_t kNt5AlignmentMask = 2047;
constexpr uint32_t kNt5InquiryTimeOutSeconds = 2;

// Copies up to `count` source bytes, stopping at a NUL; the rest of the field is NUL.
void CopyText(char* field, size_t fieldSize, const uint8_t* source, size_t count) {
  std::memset(field, 0, fieldSize);
  for (size_t i = 0; i < count && i + 1 < fieldSize && source[i] != 0; ++i) {
    field[i] = static_cast<char>(source[i]);
  }
}

void SetIdentity(DriveRecord& record, const uint8_t* inquiry) {
  CopyText(record.identity, sizeof(record.identity), inquiry + 8, kIdentityLength);
  CopyText(record.revision, sizeof(record.revision), inquiry + 32, kRevisionLength);
}

DriveRecord* NewRecord() {
  return static_cast<DriveRecord*>(platform::os().heapAlloc(sizeof(DriveRecord)));
}

bool ListIsFull(const DriveList& drives) { return drives.count >= kMaxDrives; }

void Append(DriveList& drives, DriveRecord* record) { drives.records[drives.count++] = record; }

// The device path of a drive letter: "\\.\" then the letter in lower case and a colon.
void LetterPath(char letter, char path[7]) {
  std::memcpy(path, "\\\\.\\?:", 7);
  path[4] = letter;
}

// ASPI path. Result: appends each adapter's LUN-0 targets whose INQUIRY byte 0 is exactly 5.
void DiscoverAspi(DriveList& drives) {
  const AspiEntryPoints entry = BoundAspiEntryPoints();
  if (entry.getSupportInfo == nullptr || entry.sendCommand == nullptr) return;
  const uint32_t support = entry.getSupportInfo();
  const uint8_t status = static_cast<uint8_t>(support >> 8);
  const uint8_t adapters = static_cast<uint8_t>(support);
  if (status != SS_COMP || adapters == 0) return;

  for (uint8_t a = 0; a < adapters; ++a) {
    SRB_HAInquiry inquiry;
    std::memset(&inquiry, 0, sizeof(inquiry));
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = a;
    entry.sendCommand(&inquiry);
    if (inquiry.SRB_Status != SS_COMP) continue;

    const uint8_t* unique = inquiry.HA_Unique;
    const uint8_t targets = unique[3] != 0 ? unique[3] : kDefaultTargetCount;
    const uint32_t maxTransfer = uint32_t{unique[4]} | uint32_t{unique[5]} << 8 |
                                 uint32_t{unique[6]} << 16 | uint32_t{unique[7]} << 24;

    for (uint8_t t = 0; t < targets; ++t) {
      SRB_GDEVBlock device;
      std::memset(&device, 0, sizeof(device));
      device.SRB_Cmd = SC_GET_DEV_TYPE;
      device.SRB_HaId = a;
      device.SRB_Target = t;
      device.SRB_Lun = 0;
      entry.sendCommand(&device);
      if (device.SRB_Status != SS_COMP || device.SRB_DeviceType != 5) continue;
      // A ninth drive has no slot: it is not listed and nothing is asked of it.
      if (ListIsFull(drives)) continue;

      DriveRecord* record = NewRecord();
      if (record == nullptr) continue;
      record->adapterId = a;
      record->targetId = t;
      record->maxTransferLength = maxTransfer;
      record->alignmentMask = unique[0];

      uint8_t reply[kStandardInquiryLength] = {};
      uint8_t sense[kSenseAreaSize] = {};
      static const uint8_t kInquiryCdb[12] = {0x12, 0, 0, 0, kStandardInquiryLength, 0,
                                              0,    0, 0, 0, 0,                      0};
      ScsiRequest request{};
      request.drive = record;
      request.direction = SRB_DIR_IN;
      request.dataLength = sizeof(reply);
      request.data = reply;
      request.cdbLength = sizeof(kInquiryCdb);
      request.cdb = kInquiryCdb;
      request.useNtPassThrough = 0;
      request.senseArea = sense;
      if (SendScsiRequest(request) == 1 && reply[0] == kCdRomPeripheralByte) {
        SetIdentity(*record, reply);
        Append(drives, record);
      } else {
        platform::os().heapFree(record);
      }
    }
  }
}

// Reads the bus table and entry chains of one letter's stored inquiry data and lists each
// CD-ROM entry with the letter's handle. Every offset and entry is checked against the buffer;
// a bus's walk stops at the first entry that does not lie wholly inside it, or that it has
// already walked.
// Returns the number of records that took the handle.
uint32_t ListStoredInquiryData(const uint8_t* buffer, platform::Handle handle, DriveList& drives) {
  constexpr size_t kBusTableStart = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
  constexpr size_t kEntryHeader = offsetof(SCSI_INQUIRY_DATA, InquiryData);
  constexpr size_t kEntrySize = kEntryHeader + kStandardInquiryLength;

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

      if (inquiry[0] == kCdRomPeripheralByte && !ListIsFull(drives)) {
        DriveRecord* record = NewRecord();
        if (record != nullptr) {
          record->adapterId = entry.PathId;
          record->targetId = entry.TargetId;
          record->deviceHandle = handle;
          SetIdentity(*record, inquiry);
          IO_SCSI_CAPABILITIES capabilities;
          std::memset(&capabilities, 0, sizeof(capabilities));
          uint32_t returned = 0;
          if (platform::os().deviceControl(handle, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0,
                                           &capabilities, sizeof(capabilities), &returned)) {
            record->alignmentMask = capabilities.AlignmentMask;
            record->maxTransferLength = capabilities.MaximumTransferLength;
          }
          Append(drives, record);
          ++taken;
        }
      }
      offset = entry.NextInquiryDataOffset;
    }
  }
  return taken;
}

// NT 4 path. Result: appends the CD-ROM entries of each letter c..y's stored inquiry data.
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

// NT 5 path. Result: appends each letter c..z whose pass-through INQUIRY byte 0 is exactly 5.
void DiscoverNt5(DriveList& drives) {
  uint8_t reply[kNt5InquiryReplySize];
  for (char letter = 'c'; letter <= 'z'; ++letter) {
    char path[7];
    LetterPath(letter, path);
    const platform::Handle handle = platform::os().openDevice(path);
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
    record->alignmentMask = kNt5AlignmentMask;
    SetIdentity(*record, reply);
    Append(drives, record);
  }
}

}  // namespace

// Result: none; the list holds the CD-ROM-class devices found, at most kMaxDrives.
void DiscoverDrives(uint8_t isWindowsNt, uint8_t isNt4OrOlder, DriveList& drives) {
  drives.count = 0;
  if (isWindowsNt == 0) {  // the Windows 95/98/Me family
    DiscoverAspi(drives);
  } else if (isNt4OrOlder != 0) {
    DiscoverNt4(drives);
  } else {
    DiscoverNt5(drives);
  }
}

void ReleaseDrives(DriveList& drives) {
  for (uint32_t i = 0; i < drives.count && i < kMaxDrives; ++i) {
    DriveRecord* record = drives.records[i];
    if (record == nullptr) continue;
    const platform::Handle handle = record->deviceHandle;
    bool closedBefore = false;
    for (uint32_t j = 0; j < i; ++j) {
      if (drives.records[j] != nullptr && drives.records[j]->deviceHandle == handle) {
        closedBefore = true;
      }
    }
    if (handle != nullptr && handle != platform::InvalidHandle() && !closedBefore) {
      platform::os().closeHandle(handle);
    }
  }
  for (uint32_t i = 0; i < drives.count && i < kMaxDrives; ++i) {
    platform::os().heapFree(drives.records[i]);
    drives.records[i] = nullptr;
  }
  drives.count = 0;
}
