// What every transport shares: the checks before a command is sent, and its trace.
#include "drive/drive_transport.h"

#include <cstring>

#include "drive/command_trace.h"

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
    drive::TraceCommand(request.cdb, request.cdbLength, request.direction, request.dataLength,
                        outcome == ScsiOutcome::kGood, request.senseArea, moved);
  }
  return outcome;
}

