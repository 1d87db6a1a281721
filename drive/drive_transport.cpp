// What every transport shares: the checks before a command is sent, its trace, and the records
// of discovery.
#include "drive/drive_transport.h"

#include <cstring>

namespace {

constexpr uint32_t kClearedSenseBytes = 16;

bool IsWellFormed(const ScsiRequest& request) {
  return request.drive != nullptr && request.cdb != nullptr && request.cdbLength != 0 &&
         request.cdbLength <= kMaxCdbLength && (request.dataLength == 0 || request.data != nullptr);
}

}  // namespace

ScsiOutcome DriveTransport::Send(const ScsiRequest& request, uint32_t& moved) {
  moved = kMovedUnknown;
  std::memset(request.senseArea, 0, kClearedSenseBytes);
  if (!IsWellFormed(request)) return ScsiOutcome::kNotSent;
  bool sent = false;
  const ScsiOutcome outcome = Carry(request, sent, moved);
  // A transport that reports more than was asked for reports nothing that can be used.
  if (moved != kMovedUnknown && moved > request.dataLength) moved = request.dataLength;
  // The trace line of a request that reached the transport (sense read only on failure).
  if (sent) {
    Trace(request.cdb, request.cdbLength, request.direction, request.dataLength,
          outcome == ScsiOutcome::kGood, request.senseArea, moved);
  }
  return outcome;
}

void DriveTransport::Trace(const uint8_t* cdb, uint8_t cdbLength, uint8_t direction,
                           uint32_t dataLength, bool ok, const uint8_t* sense, uint32_t moved) {
  if (trace_ != nullptr) trace_->Write(cdb, cdbLength, direction, dataLength, ok, sense, moved);
}

DriveRecord* DriveTransport::NewRecord() {
  return static_cast<DriveRecord*>(os_.heapAlloc(sizeof(DriveRecord)));
}

void DriveTransport::ReleaseDrives(DriveList& drives) {
  const uint32_t count = drives.count < kMaxDrives ? drives.count : kMaxDrives;
  for (uint32_t i = 0; i < count; ++i) {
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
      CloseDevice(handle);
    }
  }
  for (uint32_t i = 0; i < count; ++i) {
    os_.heapFree(drives.records[i]);
    drives.records[i] = nullptr;
  }
  drives.count = 0;
}
