// Drive access: the drive records that discovery fills and the one command transport that every
// drive command goes through.
#pragma once

#include <cstdint>

#include "platform/os.h"

// One discovered drive. A plain value record, created zero-filled and copied whole.
struct DriveRecord {
  platform::Handle deviceHandle;  // open drive-letter device (NT paths); empty on the ASPI path
  uint8_t adapterId;              // ASPI host adapter or NT PathId; 255 in a job: no drive
  uint8_t targetId;
  uint32_t maxTransferLength;  // 0 when the adapter does not report it
  uint32_t alignmentMask;      // low address bits a data buffer must have clear
  char identity[32];           // vendor (8) + product (16) + "(%d)" list index suffix
  char revision[12];           // 4 revision characters
};

constexpr uint32_t kMaxDrives = 8;

// The discovered drives, in discovery order.
struct DriveList {
  DriveRecord* records[kMaxDrives];
  uint32_t count;
};

// Data direction of a request. The values are those of the ASPI manager's direction flags, so
// that the ASPI transport passes a direction on as it is.
constexpr uint8_t kDataIn = 0x08;
constexpr uint8_t kDataOut = 0x10;

constexpr uint32_t kSenseAreaSize = 32;
constexpr uint8_t kMaxCdbLength = 16;

// One command for the transport.
struct ScsiRequest {
  const DriveRecord* drive;
  uint8_t direction;    // kDataIn, kDataOut or 0
  uint32_t dataLength;  // 0 when there is no data
  uint8_t* data;        // dataLength bytes; may be null when dataLength is 0
  uint8_t cdbLength;    // 1 to 16
  const uint8_t* cdb;
  uint8_t* senseArea;        // kSenseAreaSize bytes
  // How long the command may take, in seconds; 0: the transport's own limit. Only a transport
  // that bounds each wait by the command reads it (SG_IO); the Windows paths keep theirs.
  uint32_t timeOutSeconds;
};

// A command for `drive`: its CDB, `dataLength` bytes of data at `data` moving `direction`, the
// sense area, and the time-out (0: the transport's own).
inline ScsiRequest RequestFor(const DriveRecord& drive, const uint8_t* cdb, uint8_t cdbLength,
                              uint8_t direction, uint8_t* data, uint32_t dataLength,
                              uint8_t* senseArea, uint32_t timeOutSeconds = 0) {
  return ScsiRequest{&drive, direction, dataLength, data, cdbLength, cdb, senseArea, timeOutSeconds};
}

// The bytes a data phase moved, where the transport cannot tell (ASPI reports no residual):
// the caller then judges the answer by its content.
constexpr uint32_t kMovedUnknown = 0xFFFFFFFFu;

// The transport state that the main dialog keeps: the loaded ASPI library, if any.
struct TransportState {
  void* aspiLibrary;
};

// What became of one command.
enum class ScsiOutcome : uint8_t {
  kGood,            // delivered, and the drive reported GOOD
  kCheckCondition,  // delivered, and the drive reported CHECK CONDITION: its sense is in senseArea
  kHostError,       // the adapter or its driver reported an error, or the drive another status
  kOsError,         // the operating system failed the request (DeviceIoControl)
  kNotSent,         // malformed, or nothing to send it with: the drive saw nothing
};

// The outcome of a command the drive answered with SCSI status `status`: GOOD, CHECK CONDITION
// (its sense says why), or any other status (BUSY, RESERVATION CONFLICT, ...) as a host error.
constexpr uint8_t kScsiStatusGood = 0x00;
constexpr uint8_t kScsiStatusCheckCondition = 0x02;
inline ScsiOutcome OutcomeOfStatus(uint8_t status) {
  if (status == kScsiStatusGood) return ScsiOutcome::kGood;
  return status == kScsiStatusCheckCondition ? ScsiOutcome::kCheckCondition : ScsiOutcome::kHostError;
}
